#pragma once

// A private smbd on 127.0.0.1 for tests and benchmarks: its own configuration, state folders and
// password database under a folder of the caller's, one share "QuillonFiles" (or another name,
// for a host without it) on a port of the caller's. Guest access by default; with an account,
// only that account (in the server's own password database, a Unix user of this machine) may
// use the share.

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/Network.h"

namespace quillon {

class PrivateSmbServer {
public:
    ~PrivateSmbServer() { Stop(); }

    // Writes the configuration (and the account, when a user is given) under root, serving
    // shareFolder. False when smbpasswd refuses the account.
    bool Configure(const std::filesystem::path& root, const std::filesystem::path& shareFolder,
                   int port, const std::string& user = {}, const std::string& password = {},
                   const std::string& shareName = "QuillonFiles") {
        namespace fs = std::filesystem;
        m_root = root;
        m_port = port;
        for (const fs::path& folder : {root / "private", root / "lock", root / "state",
                                       root / "cache", root / "pid", shareFolder})
            fs::create_directories(folder);
        const std::string r = root.string();
        std::ofstream conf(root / "smb.conf");
        conf << "[global]\n  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
             << "  smb ports = " << port << "\n  disable netbios = yes\n  map to guest = Bad User\n"
             << "  private dir = " << r << "/private\n  lock directory = " << r << "/lock\n"
             << "  state directory = " << r << "/state\n  cache directory = " << r << "/cache\n"
             << "  pid directory = " << r << "/pid\n  log file = " << r << "/log.%m\n"
             << "  rpc start on demand helpers = no\n"
             << "  passdb backend = tdbsam:" << r << "/private/passdb.tdb\n"
             << "[" << shareName << "]\n  path = " << shareFolder.string()
             << "\n  read only = no\n  create mask = 0666\n"
             // Guests too write as this user, into the caller's private folders.
             << "  force user = " << ::getpwuid(::getuid())->pw_name << "\n";
        if (user.empty()) {
            conf << "  guest ok = yes\n";
            return true;
        }
        conf << "  guest ok = no\n  valid users = " << user << "\n";
        conf.close();
        QProcess smbpasswd;
        smbpasswd.start("smbpasswd", {"-c", QString::fromStdString(r + "/smb.conf"), "-s", "-a",
                                      QString::fromStdString(user)});
        smbpasswd.waitForStarted();
        smbpasswd.write(QByteArray::fromStdString(password + "\n" + password + "\n"));
        smbpasswd.closeWriteChannel();
        return smbpasswd.waitForFinished(10000) && smbpasswd.exitCode() == 0;
    }

    // Starts smbd and waits until it accepts connections; its output goes to smbd.out.
    bool Start() {
        m_smbd.setProcessChannelMode(QProcess::MergedChannels);
        m_smbd.setStandardOutputFile(QString::fromStdString((m_root / "smbd.out").string()),
                                     QIODevice::Append);
        m_smbd.start("smbd",
                     {"--foreground", "--debug-stdout",
                      QString::fromStdString("--configfile=" + (m_root / "smb.conf").string())});
        return m_smbd.waitForStarted() && WaitUntilListening(m_port, 5000);
    }

    // Ends the server and every connection it serves (smbd leads its own process group);
    // `signal` SIGKILL makes it vanish without a word to its clients.
    void Stop(int signal = SIGTERM) {
        if (m_smbd.state() == QProcess::NotRunning)
            return;
        ::kill(-Pid(), signal);
        ::kill(Pid(), signal);
        m_smbd.waitForFinished(-1);
    }

    int Port() const { return m_port; }
    // The leader of the process group of all its processes.
    pid_t Pid() const { return pid_t(m_smbd.processId()); }

private:
    std::filesystem::path m_root;
    int m_port = 0;
    QProcess m_smbd;
};

} // namespace quillon
