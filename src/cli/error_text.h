// Fixed English texts for error codes. One numbering serves three families:
// C runtime errno values (1-42, 80), socket-library codes (10004-10109, 6, 87)
// and resolver codes (11001-11004). The socket layer translates the host's
// own numbers onto these before anyone asks for a text.
#pragma once

#include <cstdint>

// A constant text, never null; "Unknown error" for any code without a row.
const char* error_text(std::int32_t code);
