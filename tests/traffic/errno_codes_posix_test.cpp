#include "traffic/errno_codes_posix.h"

#include "cli/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>

TEST(ErrnoCodes, SocketErrorsReadAsTheirSocketLibraryTwins)
{
    struct Case { int err; int code; };
    for (Case c : {Case{EAGAIN, 10035}, Case{EWOULDBLOCK, 10035}, Case{EINPROGRESS, 10036},
                   Case{EALREADY, 10037}, Case{EINTR, 10004}, Case{EACCES, 10013}, Case{EFAULT, 10014},
                   Case{EINVAL, 10022}, Case{EMFILE, 10024}, Case{ENOTSOCK, 10038},
                   Case{EDESTADDRREQ, 10039}, Case{EMSGSIZE, 10040}, Case{EPROTOTYPE, 10041},
                   Case{ENOPROTOOPT, 10042}, Case{EPROTONOSUPPORT, 10043}, Case{ESOCKTNOSUPPORT, 10044},
                   Case{EOPNOTSUPP, 10045}, Case{EPFNOSUPPORT, 10046}, Case{EAFNOSUPPORT, 10047},
                   Case{EADDRINUSE, 10048}, Case{EADDRNOTAVAIL, 10049}, Case{ENETDOWN, 10050},
                   Case{ENETUNREACH, 10051}, Case{ENETRESET, 10052}, Case{ECONNABORTED, 10053},
                   Case{ECONNRESET, 10054}, Case{ENOBUFS, 10055}, Case{EISCONN, 10056},
                   Case{ENOTCONN, 10057}, Case{ESHUTDOWN, 10058}, Case{ETIMEDOUT, 10060},
                   Case{ECONNREFUSED, 10061}, Case{EHOSTDOWN, 10064}, Case{EHOSTUNREACH, 10065},
                   Case{EPIPE, 32}, Case{ENOMEM, 12}, Case{EBADF, 9}, Case{ENFILE, 23},
                   // runtime errors numbered differently here than in the table
                   Case{EDEADLK, 36}, Case{ENAMETOOLONG, 38}, Case{ENOLCK, 39}, Case{ENOSYS, 40},
                   Case{ENOTEMPTY, 41}, Case{EILSEQ, 42}})
        EXPECT_EQ(net_code_from_errno(c.err), c.code) << "errno " << c.err;
}

TEST(ErrnoCodes, ErrnosWithoutACounterpartNeverBorrowAnotherText)
{
    // Every errno the host knows gets either a row of its own meaning or "Unknown error";
    // in particular none lands on the would-block code by accident.
    for (int err = 1; err < 200; ++err) {
        const int code = net_code_from_errno(err);
        if (err != EAGAIN) {
            EXPECT_NE(code, 10035) << err;
        }
        if (err > 34 && code > 0 && code < 100) {
            EXPECT_TRUE(code >= 36 && code <= 42) << err << " -> " << code;
        }
    }
    EXPECT_STREQ(error_text(net_code_from_errno(EPROTO)), "Unknown error");
    EXPECT_STREQ(error_text(net_code_from_errno(ELIBBAD)), "Unknown error");  // 80 on Linux
}

TEST(ErrnoCodes, ResolverResults)
{
    struct Case { int result; int err; int code; };
    for (Case c : {Case{EAI_NONAME, 0, 11001}, Case{EAI_AGAIN, 0, 11002}, Case{EAI_FAIL, 0, 11003},
                   Case{EAI_NODATA, 0, 11004}, Case{EAI_ADDRFAMILY, 0, 11004}, Case{EAI_MEMORY, 0, 12},
                   Case{EAI_SERVICE, 0, 10109}, Case{EAI_FAMILY, 0, 10047}, Case{EAI_SOCKTYPE, 0, 10044},
                   Case{EAI_SYSTEM, ECONNREFUSED, 10061}, Case{EAI_SYSTEM, ENOMEM, 12}})
        EXPECT_EQ(net_code_from_resolver(c.result, c.err), c.code) << c.result;
    EXPECT_STREQ(error_text(net_code_from_resolver(EAI_MEMORY, 0)), "Not enough memory");
    EXPECT_STREQ(error_text(net_code_from_resolver(EAI_OVERFLOW, 0)), "Unknown error");
}
