#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that came from the network, made safe to show: on a terminal, in a window or in an error
// answer. Printable ASCII stays as it is; every other byte (control characters such as ESC, BEL
// and CR, DEL and anything beyond ASCII) becomes a four-character escape such as "\x1b", so that
// a peer can neither move a terminal's cursor, retitle it nor hide text behind a carriage return.
std::string escapedText(std::string_view text);

// At most `quoteLimit` characters of a request's text, escaped as above, for answers that say
// what was wrong with it; "..." follows when something was left out. The answer thus stays small
// whatever the request carried.
constexpr size_t quoteLimit = 64;
std::string quotedRequestText(std::string_view text);
