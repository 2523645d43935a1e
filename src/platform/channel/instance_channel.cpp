#include "platform/channel/instance_channel.h"

#include "platform/channel/execute_text.h"

#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::channel {

namespace {

// A folder of this user that no one else may write to (for the runtime
// folder itself: enter at all).
bool IsPrivateFolder(const std::string& path, mode_t forbidden) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & forbidden) == 0;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

enum class SocketState { Missing, Ours, Foreign };

SocketState Inspect(const std::string& socketPath) {
    if (!IsPrivateFolder(FolderOf(socketPath), S_IWGRP | S_IWOTH)) {
        return SocketState::Foreign;
    }
    struct stat st {};
    if (::lstat(socketPath.c_str(), &st) != 0) {
        return SocketState::Missing;
    }
    return S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid() ? SocketState::Ours
                                                            : SocketState::Foreign;
}

bool PeerIsThisUser(const QLocalSocket& socket) {
    struct ucred cred {};
    socklen_t size = sizeof cred;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 &&
           cred.uid == ::geteuid();
}

QByteArray Frame(std::string_view text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    QByteArray frame;
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.append(static_cast<char>((size >> shift) & 0xff));
    }
    frame.append(text.data(), static_cast<qsizetype>(text.size()));
    return frame;
}

std::uint32_t FrameLength(const QByteArray& head) {
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        size = (size << 8) | static_cast<unsigned char>(head[i]);
    }
    return size;
}

} // namespace

std::string ServiceName(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    std::string_view name =
        slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    return std::string(name.substr(0, name.find('.')));
}

std::string RuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        if (IsPrivateFolder(runtime, S_IRWXG | S_IRWXO)) {
            return runtime;
        }
    }
    std::error_code ec;
    const std::string folder = (std::filesystem::temp_directory_path(ec) /
                                ("quillfence-runtime-" + std::to_string(::geteuid())))
                                   .string();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolder(folder, S_IRWXG | S_IRWXO) ? folder : std::string();
}

std::string SocketPath(const std::string& folder, const std::string& service) {
    return folder + "/" + service + ".AppDDE";
}

SendResult SendExecute(const std::string& socketPath, std::string_view text, int timeoutMs) {
    switch (Inspect(socketPath)) {
    case SocketState::Missing:
        return SendResult::NoInstance;
    case SocketState::Foreign:
        return SendResult::NotOwned;
    case SocketState::Ours:
        break;
    }
    if (text.size() > kMaxExecuteText) {
        return SendResult::Refused;
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath));
    if (!socket.waitForConnected(timeoutMs)) {
        return SendResult::NoInstance;
    }
    socket.write(Frame(text));
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return SendResult::Refused;
    }
    while (!socket.canReadLine() && socket.waitForReadyRead(timeoutMs)) {
    }
    return socket.readLine(64) == "ok\n" ? SendResult::Delivered : SendResult::Refused;
}

InstanceServer::InstanceServer(std::string socketPath, QObject* parent)
    : QObject(parent), path_(std::move(socketPath)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

InstanceServer::~InstanceServer() {
    server_.close(); // removes the socket file
}

bool InstanceServer::Listen(std::string& error) {
    switch (Inspect(path_)) {
    case SocketState::Foreign:
        error = path_ + " or its folder belongs to another user";
        return false;
    case SocketState::Ours: {
        QLocalSocket probe;
        probe.connectToServer(QString::fromStdString(path_));
        if (probe.waitForConnected(1000)) {
            error = "another instance listens at " + path_;
            return false;
        }
        QLocalServer::removeServer(QString::fromStdString(path_)); // left by a crash
        break;
    }
    case SocketState::Missing:
        break;
    }
    if (!server_.listen(QString::fromStdString(path_))) {
        error = server_.errorString().toStdString();
        return false;
    }
    return true;
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Serve(socket);
    }
}

void InstanceServer::Serve(QLocalSocket* socket) {
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(kReadTimeoutMs);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer, deadline] {
        buffer->append(socket->read(static_cast<qint64>(kMaxExecuteText) + 4 - buffer->size()));
        if (buffer->size() < 4) {
            return;
        }
        const std::uint32_t length = FrameLength(*buffer);
        if (length > kMaxExecuteText) {
            deadline->stop();
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            socket->write("refused\n");
            socket->disconnectFromServer();
            return;
        }
        if (static_cast<std::uint32_t>(buffer->size() - 4) < length) {
            return;
        }
        deadline->stop();
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        std::string text(buffer->constData() + 4, length);
        socket->write("ok\n");
        socket->disconnectFromServer();
        // Handled once the sender has its answer: the handler may ask the
        // person something and run an event loop of its own.
        QTimer::singleShot(0, this, [this, text = std::move(text)] {
            if (onExecute) {
                onExecute(text);
            }
        });
    });
}

} // namespace qf::channel
