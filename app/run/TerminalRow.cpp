#include "app/run/TerminalRow.h"

#include <sys/ioctl.h>

#include <cstddef>

std::string_view fitTerminalRow(std::string_view line, int descriptor) {
    winsize size{};
    if (ioctl(descriptor, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) {
        return line;
    }
    const std::size_t columns = size.ws_col - 1u;
    std::size_t shown = 0;
    for (std::size_t index = 0; index < line.size(); ++index) {
        // UTF-8: a byte 10xxxxxx continues a character and takes no column of its own.
        if ((static_cast<unsigned char>(line[index]) & 0xC0) != 0x80 && shown++ == columns) {
            return line.substr(0, index);
        }
    }
    return line;
}
