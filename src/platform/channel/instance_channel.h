// The rendezvous of one program's instances for one user: a local socket in
// the user's runtime folder, named after the program ("<service>.AppDDE").
// The first instance listens there; a later start hands its execute texts
// (execute_text.h) to it and ends.  The folder and the socket belong to the
// user and no one else may enter or connect: a client never uses a socket
// or folder owned by someone else, and the server drops any connection whose
// peer is another user.
//
// On the wire a text is sent as its length (4 bytes, big-endian) and its
// bytes; the server answers "ok\n" when it took the text and "refused\n"
// when it did not (too long).  A connection that sends nothing usable within
// a few seconds is dropped.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <functional>
#include <string>
#include <string_view>

class QLocalSocket;

namespace qf::channel {

// A program's service name: its file name up to the first ".".
std::string ServiceName(std::string_view executablePath);

// The folder for the user's sockets: $XDG_RUNTIME_DIR when it is a folder of
// this user that no one else may enter, else a private folder of this user
// in the temp folder (made when missing).  Empty when neither is safe.
std::string RuntimeFolder();

// The socket of `service` in `folder`.
std::string SocketPath(const std::string& folder, const std::string& service);

enum class SendResult {
    Delivered,  // the instance took the text
    NoInstance, // nothing listens there (no socket, or one left by a crash)
    Refused,    // the instance refused the text or did not answer
    NotOwned    // the socket or its folder belongs to another user: not used
};

// Sends one execute text to the instance at `socketPath` and waits for its
// answer, at most `timeoutMs` for each step.
SendResult SendExecute(const std::string& socketPath, std::string_view text, int timeoutMs = 5000);

class InstanceServer : public QObject {
public:
    // Called on the server's thread for each text taken, after the sender
    // has had its answer.
    std::function<void(const std::string& text)> onExecute;

    explicit InstanceServer(std::string socketPath, QObject* parent = nullptr);
    // Stops listening and removes the socket.
    ~InstanceServer() override;
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    // Listens at the socket path, first removing a socket of this user that
    // no instance answers on any more.  False, with the reason, when another
    // instance listens there or the socket cannot be made.
    bool Listen(std::string& error);
    bool Listening() const { return server_.isListening(); }
    const std::string& Path() const { return path_; }

    // How long a connection may take to send its text.
    static constexpr int kReadTimeoutMs = 5000;

private:
    void Accept();
    void Serve(QLocalSocket* socket);

    std::string path_;
    QLocalServer server_;
};

} // namespace qf::channel
