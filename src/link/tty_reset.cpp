#include "tty_reset.h"

#include <QFile>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kt::link {

void resetTerminalSettings(const QString& device) {
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    termios tio{};
    if (::isatty(fd) && ::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_iflag = 0;
        tio.c_cflag &= ~tcflag_t(CLOCAL);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::close(fd);
}

} // namespace kt::link
