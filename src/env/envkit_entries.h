// The entry points of the environment library, in table order. The loader
// resolves them in this order (the first missing one decides its result code)
// and the stand-in library defines them from the same list, so the two cannot
// drift apart.
//
// ROLTA_ENVKIT_ENTRIES(TYPED, GENERIC) expands
//   TYPED(name, return type, (parameter types))  for the entries with a real
//                                                signature, and
//   GENERIC(name)                                for the entries the console never
//                                                calls; they share `int (void)`.
#pragma once

#include "env/envkit_types.h"

// clang-format off
#define ROLTA_ENVKIT_ENTRIES(TYPED, GENERIC)                          \
  /* environment record */                                            \
  TYPED(GetEnvkitStrSize, int, (void))                                \
  TYPED(GetEnvkit, int, (void*))                                      \
  TYPED(GetDefaultEnvkit, int, (void*))                               \
  TYPED(SaveEnvkit, int, (const void*))                               \
  GENERIC(SaveSysInertia)                                             \
  GENERIC(GetSysInertia)                                              \
  GENERIC(GetEnvkitItem)                                              \
  GENERIC(SetEnvkitItem)                                              \
  /* language */                                                      \
  TYPED(GetLangueString, const char*, (const char*))                  \
  GENERIC(GetLangueID)                                                \
  GENERIC(SetLangueID)                                                \
  GENERIC(ReloadLangue)                                               \
  /* version */                                                       \
  TYPED(GetVers, int, (int, char*))                                   \
  GENERIC(GetBuildDate)                                               \
  /* logs */                                                          \
  TYPED(SaveLog, int, (const char*, const char*))                     \
  GENERIC(SaveErrLog)                                                 \
  GENERIC(SaveDebugLog)                                               \
  GENERIC(ClearLog)                                                   \
  GENERIC(GetLogPath)                                                 \
  GENERIC(SetLogLevel)                                                \
  /* processes and services */                                        \
  GENERIC(FindProcess)                                                \
  GENERIC(StartProcess)                                               \
  GENERIC(KillProcess)                                                \
  GENERIC(WaitProcess)                                                \
  GENERIC(GetProcessCount)                                            \
  GENERIC(IsServiceRunning)                                           \
  GENERIC(StartServiceByName)                                         \
  GENERIC(StopServiceByName)                                          \
  GENERIC(InstallService)                                             \
  GENERIC(RemoveService)                                              \
  /* paths and file names */                                          \
  GENERIC(GetSysPath)                                                 \
  GENERIC(GetAppPath)                                                 \
  GENERIC(GetDataPath)                                                \
  GENERIC(GetTempPath)                                                \
  GENERIC(GetLogDir)                                                  \
  GENERIC(MakeDirTree)                                                \
  GENERIC(CombinePath)                                                \
  GENERIC(GetFileNameOnly)                                            \
  GENERIC(GetFileExtName)                                             \
  GENERIC(ChangeFileExt)                                              \
  GENERIC(FileIsExist)                                                \
  GENERIC(DirIsExist)                                                 \
  /* ODBC and database backup */                                      \
  GENERIC(RegisterOdbcDsn)                                            \
  GENERIC(RemoveOdbcDsn)                                              \
  GENERIC(OdbcDsnIsExist)                                             \
  GENERIC(GetOdbcDriverName)                                          \
  GENERIC(GetDbConnectString)                                         \
  GENERIC(TestDbConnect)                                              \
  GENERIC(BackupDatabase)                                             \
  GENERIC(RestoreDatabase)                                            \
  GENERIC(AutoBackupDatabase)                                         \
  GENERIC(CompactDatabase)                                            \
  GENERIC(GetBackupPath)                                              \
  GENERIC(SetBackupPath)                                              \
  /* network */                                                       \
  GENERIC(GetLocalIP)                                                 \
  GENERIC(SetLocalIP)                                                 \
  GENERIC(GetLocalHostName)                                           \
  GENERIC(GetMacAddress)                                              \
  GENERIC(GetNetMask)                                                 \
  GENERIC(GetGateway)                                                 \
  GENERIC(PingHost)                                                   \
  GENERIC(CheckNetLink)                                               \
  GENERIC(NetOpenSocket)                                              \
  GENERIC(NetCloseSocket)                                             \
  GENERIC(NetSendData)                                                \
  GENERIC(NetRecvData)                                                \
  /* serial ports */                                                  \
  TYPED(GetSerialPortInfo, int, (rolta::PortList*))                   \
  GENERIC(GetSerialPortCount)                                         \
  /* standard-header records */                                       \
  GENERIC(GetStdHeadSize)                                             \
  GENERIC(GetStdHead)                                                 \
  GENERIC(SetStdHead)                                                 \
  GENERIC(LoadStdHead)                                                \
  GENERIC(SaveStdHead)                                                \
  GENERIC(CheckStdHead)                                               \
  GENERIC(GetStdHeadItem)                                             \
  GENERIC(SetStdHeadItem)                                             \
  /* XML */                                                           \
  GENERIC(XmlOpen)                                                    \
  GENERIC(XmlClose)                                                   \
  GENERIC(XmlSave)                                                    \
  GENERIC(XmlGetNode)                                                 \
  GENERIC(XmlSetNode)                                                 \
  GENERIC(XmlAddNode)                                                 \
  GENERIC(XmlDelNode)                                                 \
  GENERIC(XmlGetNodeCount)                                            \
  GENERIC(XmlGetAttr)                                                 \
  GENERIC(XmlSetAttr)                                                 \
  /* precision and digit conversions */                               \
  GENERIC(SetPrecision)                                               \
  GENERIC(GetPrecision)                                               \
  GENERIC(RoundByPrecision)                                           \
  GENERIC(FloatToStrPrec)                                             \
  GENERIC(StrToFloatPrec)                                             \
  GENERIC(DoubleToFixed)                                              \
  GENERIC(FormatDigit)                                                \
  GENERIC(IntToHexStr)                                                \
  GENERIC(HexStrToInt)                                                \
  GENERIC(IntToBcd)                                                   \
  GENERIC(BcdToInt)                                                   \
  GENERIC(ByteToBinStr)                                               \
  GENERIC(BinStrToByte)                                               \
  GENERIC(DigitToChinese)                                             \
  /* hardware I/O */                                                  \
  GENERIC(OpenHardware)                                               \
  GENERIC(CloseHardware)                                              \
  GENERIC(ResetHardware)                                              \
  GENERIC(GetHardwareType)                                            \
  GENERIC(GetHardwareInfo)                                            \
  GENERIC(Hardware_GetChannelCount)                                   \
  GENERIC(Hardware_SelfTest)                                          \
  GENERIC(Hardware_ReadAI)                                            \
  GENERIC(Hardware_ReadAIEx)                                          \
  GENERIC(Hardware_ReadAIBlock)                                       \
  GENERIC(Hardware_SetAIRange)                                        \
  GENERIC(Hardware_GetAIRange)                                        \
  GENERIC(Hardware_WriteAO)                                           \
  GENERIC(Hardware_ReadDI)                                            \
  GENERIC(Hardware_ReadDO)                                            \
  GENERIC(Hardware_WriteDO)                                           \
  GENERIC(Hardware_ReadCounter)                                       \
  GENERIC(Hardware_ClearCounter)                                      \
  GENERIC(Hardware_ReadFreq)                                          \
  GENERIC(Hardware_SetTimer)                                          \
  GENERIC(Hardware_StartScan)                                         \
  GENERIC(Hardware_StopScan)                                          \
  GENERIC(Hardware_GetScanData)
// clang-format on

namespace rolta::envkit_detail {
#define ROLTA_ENVKIT_COUNT_ONE(...) +1
inline constexpr int kListedEntries = 0 ROLTA_ENVKIT_ENTRIES(ROLTA_ENVKIT_COUNT_ONE, ROLTA_ENVKIT_COUNT_ONE);
#undef ROLTA_ENVKIT_COUNT_ONE
static_assert(kListedEntries == kEnvkitEntryCount, "the library has 123 required entries");
}  // namespace rolta::envkit_detail
