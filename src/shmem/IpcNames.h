#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Names of the System V objects behind a key, as Qt's QSharedMemory and QSystemSemaphore derive
// them, so that a host built on those classes finds the same segment and semaphore.
namespace ipc {

constexpr const char* kSharedMemoryPrefix = "qipc_sharedmemory_";
constexpr const char* kSystemSemaphorePrefix = "qipc_systemsem_";
// The project identifier Qt gives ftok().
constexpr int kProjectId = 'Q';

// prefix + the key's ASCII letters (case kept) + the SHA-1 of the whole key in lower-case hex.
std::string NativeKey(std::string_view prefix, std::string_view key);

// The key file that ftok() turns into the System V key: the native key in the temporary
// directory ($TMPDIR, else /tmp), read anew at every call as Qt does.
std::string KeyFilePath(std::string_view prefix, std::string_view key);

// Makes the key file with O_CREAT|O_EXCL, mode 0640; one left by someone else stays as it is.
// 1: made now; 0: it was there; -1: it could not be made (errno tells why).
int MakeKeyFile(const std::string& path);

} // namespace ipc
} // namespace quillon
