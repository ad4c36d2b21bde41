// Translation of the host's errno and resolver numbers onto the error table's
// codes, so that messages read the same on every platform and would-block is
// recognised by one code.
#pragma once

// An errno value as the error table numbers it; errnos without a counterpart
// become their negation, which reads "Unknown error".
int net_code_from_errno(int err);

// A getaddrinfo result (non-zero) as the error table numbers it; uses errno
// for EAI_SYSTEM.
int net_code_from_resolver(int result, int err);
