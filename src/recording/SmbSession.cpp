#include "recording/SmbSession.h"

#include <libsmbclient.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <vector>

#include "recording/SmbClient.h"

namespace quillon {

namespace {

// Held around every libsmbclient call of the process.
std::mutex& LibraryMutex() {
    static std::mutex mutex;
    return mutex;
}

void CopyField(char* target, int capacity, const std::string& value) {
    if (capacity <= 0)
        return;
    const size_t n = std::min(value.size(), size_t(capacity - 1));
    std::memcpy(target, value.data(), n);
    target[n] = '\0';
}

void GiveLogin(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupLength, char* user,
               int userLength, char* password, int passwordLength) {
    const SmbLogin& login = SmbClientConfiguration().login;
    if (!login.domain.empty())
        CopyField(workgroup, workgroupLength, login.domain);
    CopyField(user, userLength, login.user);
    CopyField(password, passwordLength, login.password);
}

// Contexts whose server stopped answering: kept, never freed (freeing says goodbye to the
// server and would wait out the timeout again). Guarded by LibraryMutex().
std::vector<SMBCCTX*>& SilentContexts() {
    // Never destroyed, so that the parked contexts are still held, not lost, at exit.
    static auto* contexts = new std::vector<SMBCCTX*>;
    return *contexts;
}

// libsmbclient writes to its sockets without MSG_NOSIGNAL: a server that closes the connection
// mid-write must fail that write, not end the recorder.
void IgnoreBrokenPipes() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

} // namespace

SmbSession::SmbSession() {
    IgnoreBrokenPipes();
    const SmbClientSettings& settings = SmbClientConfiguration();
    std::lock_guard<std::mutex> lock(LibraryMutex());
    SMBCCTX* context = smbc_new_context();
    if (context == nullptr) {
        m_errno = errno ? errno : ENOMEM;
        return;
    }
    smbc_setDebug(context, 0);
    smbc_setTimeout(context, settings.timeoutMs);
    smbc_setFunctionAuthDataWithContext(context, &GiveLogin);
    // An account that is refused must fail, not quietly become an anonymous guest.
    smbc_setOptionNoAutoAnonymousLogin(context, !settings.login.user.empty());
    smbc_setOptionUseKerberos(context, false);
    smbc_setOptionUseCCache(context, false);
    if (smbc_init_context(context) == nullptr) {
        m_errno = errno ? errno : EINVAL;
        smbc_free_context(context, 0);
        return;
    }
    m_context = context;
}

SmbSession::~SmbSession() {
    CloseFile();
    if (m_context == nullptr)
        return;
    std::lock_guard<std::mutex> lock(LibraryMutex());
    // A server that stopped answering is left without a goodbye: the context is parked (one
    // socket and a little memory), so that no end of a recording waits out the timeout again.
    if (m_serverSilent)
        SilentContexts().push_back(m_context);
    else
        smbc_free_context(m_context, 1);
    m_context = nullptr;
}

bool SmbSession::Fail(int error) {
    m_errno = error ? error : EIO;
    if (m_errno == ETIMEDOUT)
        m_serverSilent = true;
    return false;
}

bool SmbSession::Open(const std::string& path, int flags) {
    if (m_context == nullptr || m_file != nullptr)
        return Fail(m_context ? EBUSY : m_errno);
    const std::string url = SmbDialUrl(path);
    std::lock_guard<std::mutex> lock(LibraryMutex());
    errno = 0;
    m_file = smbc_getFunctionOpen(m_context)(m_context, url.c_str(), flags, 0666);
    return m_file != nullptr || Fail(errno);
}

bool SmbSession::Unlink(const std::string& path) {
    if (m_context == nullptr)
        return Fail(m_errno);
    const std::string url = SmbDialUrl(path);
    std::lock_guard<std::mutex> lock(LibraryMutex());
    errno = 0;
    return smbc_getFunctionUnlink(m_context)(m_context, url.c_str()) == 0 || Fail(errno);
}

bool SmbSession::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (m_file == nullptr)
        return Fail(EBADF);
    std::lock_guard<std::mutex> lock(LibraryMutex());
    errno = 0;
    // Within an open file this only moves libsmbclient's own offset: no request goes out.
    if (smbc_getFunctionLseek(m_context)(m_context, m_file, off_t(offset), SEEK_SET) < 0)
        return Fail(errno);
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        errno = 0;
        const ssize_t n = smbc_getFunctionWrite(m_context)(m_context, m_file, bytes, size);
        if (n <= 0)
            return Fail(errno);
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool SmbSession::Truncate(uint64_t size) {
    if (m_file == nullptr)
        return Fail(EBADF);
    std::lock_guard<std::mutex> lock(LibraryMutex());
    errno = 0;
    return smbc_getFunctionFtruncate(m_context)(m_context, m_file, off_t(size)) == 0 || Fail(errno);
}

bool SmbSession::CloseFile() {
    if (m_file == nullptr)
        return true;
    SMBCFILE* file = m_file;
    m_file = nullptr;
    if (m_serverSilent)
        return false;
    std::lock_guard<std::mutex> lock(LibraryMutex());
    errno = 0;
    return smbc_getFunctionClose(m_context)(m_context, file) == 0 || Fail(errno);
}

} // namespace quillon
