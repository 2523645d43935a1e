// A second program for the channel tests.
//   channel_probe send <socket> <text>   SendExecute; exit code = SendResult
//   channel_probe raw <socket> <text>    connects and sends without any
//                                        check; 0 when it got an answer,
//                                        1 when it could not connect
#include "platform/channel/instance_channel.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: channel_probe send|raw <socket> <text>\n");
        return 100;
    }
    if (std::strcmp(argv[1], "send") == 0) {
        return static_cast<int>(qf::channel::SendExecute(argv[2], argv[3], 3000));
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromLocal8Bit(argv[2]));
    if (!socket.waitForConnected(3000)) {
        return 1;
    }
    const auto size = static_cast<unsigned>(std::strlen(argv[3]));
    const char head[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                          static_cast<char>(size >> 8), static_cast<char>(size)};
    socket.write(head, 4);
    socket.write(argv[3]);
    socket.waitForBytesWritten(3000);
    socket.waitForReadyRead(3000);
    return socket.readAll().isEmpty() ? 2 : 0;
}
