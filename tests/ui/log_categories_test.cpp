// Qt's messages in the field log: a categorized warning reaches the file, a
// category's debug messages only once the rules turn them on.
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include "env/rotating_log.h"
#include "env/ui/log_categories.h"

using namespace rolta;

class LogCategoriesTest : public QObject {
  Q_OBJECT

 private slots:
  void warningsAndEnabledDebugReachTheFile() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("rolta.log"));
    RotatingLogFile file(path.toStdString(), "rolta");
    {
      const ScopedLogMessageHandler handler(&file);
      QTest::ignoreMessage(QtWarningMsg, "the guide could not be shown");
      qCWarning(lcUi) << "the guide could not be shown";
      qCDebug(lcLink) << "left out: debug is off";
      QLoggingCategory::setFilterRules(QStringLiteral("rolta.link.debug=true"));
      QTest::ignoreMessage(QtDebugMsg, "port scan done");
      qCDebug(lcLink) << "port scan done";
      QLoggingCategory::setFilterRules(QString());
    }
    QTest::ignoreMessage(QtWarningMsg, "after the handler is gone");
    qCWarning(lcUi) << "after the handler is gone";

    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    QCOMPARE(lines.size(), 3);  // two lines and the end after the last
    QVERIFY2(lines[0].endsWith("] qt-warning rolta.ui: the guide could not be shown"), lines[0]);
    QVERIFY2(lines[1].endsWith("] qt-debug rolta.link: port scan done"), lines[1]);
  }
};

QTEST_MAIN(LogCategoriesTest)
#include "log_categories_test.moc"
