#include "IpcNames.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>

namespace quillon::ipc {

std::string NativeKey(std::string_view prefix, std::string_view key) {
    std::string name(prefix);
    for (const char c : key) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            name += c;
    }
    // The hash covers the key as given, the characters dropped above included.
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(key.data(), qsizetype(key.size())), QCryptographicHash::Sha1);
    name += digest.toHex().toStdString();
    return name;
}

std::string KeyFilePath(std::string_view prefix, std::string_view key) {
    return QDir::tempPath().toStdString() + "/" + NativeKey(prefix, key);
}

int MakeKeyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0640);
    if (fd == -1)
        return errno == EEXIST ? 0 : -1;
    ::close(fd);
    return 1;
}

} // namespace quillon::ipc
