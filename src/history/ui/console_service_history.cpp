#include "history/ui/console_service_history.h"

#include <variant>

#include "env/service_identity.h"

namespace rolta {
namespace {
constexpr const char* kTitle = "服务记录";
}

ConsoleServiceHistory::ConsoleServiceHistory(const TextLookup& texts, MessageBoxService& boxes, QWidget* parent,
                                             const std::filesystem::path& path)
    : texts_(texts), boxes_(boxes), parent_(parent), path_(path) {
  auto opened = ServiceHistory::Open(path, LoadServiceIdentity(ServiceIdentityPath()));
  if (auto* history = std::get_if<std::unique_ptr<ServiceHistory>>(&opened)) {
    history_ = std::move(*history);
    recorder_ = std::make_unique<HistoryRecorder>(*history_, texts_);
    recorder_->SetFailureHandler([this](const std::string& message) {
      boxes_.Show({message, texts_.Lookup(kTitle), MessageIcon::Warning, MessageButtons::Ok});
    });
    return;
  }
  unavailable_ = HistoryErrorText(texts_, std::get<HistoryError>(opened), path) + "\n" +
                 texts_.Lookup("控制台继续运行，但不记录服务记录。");
  boxes_.Show({unavailable_, texts_.Lookup(kTitle), MessageIcon::Warning, MessageButtons::Ok});
}

ConsoleServiceHistory::~ConsoleServiceHistory() { delete window_.data(); }

void ConsoleServiceHistory::ShowWindow() {
  if (!history_) {
    boxes_.Show({unavailable_, texts_.Lookup(kTitle), MessageIcon::Warning, MessageButtons::Ok});
    return;
  }
  if (window_.isNull()) window_ = new ServiceHistoryWindow(*history_, documents_, texts_, boxes_, parent_);
  window_->Refresh();
  window_->show();
  window_->raise();
}

}  // namespace rolta
