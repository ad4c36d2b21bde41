#include "traffic/errno_codes_posix.h"

#include <cerrno>
#include <netdb.h>

int net_code_from_errno(int err)
{
    switch (err) {
    // Socket errors take their socket-library twins.
    case EAGAIN: return 10035;  // also EWOULDBLOCK, the same number here
    case EINTR: return 10004;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    // C runtime errors whose numbers differ between the two numberings.
    case EDEADLK: return 36;
    case ENAMETOOLONG: return 38;
    case ENOLCK: return 39;
    case ENOSYS: return 40;
    case ENOTEMPTY: return 41;
    case EILSEQ: return 42;
    default:
        // 1-34 number the same in both; anything else has no text of its own.
        return (err >= 1 && err <= 34) ? err : -err;
    }
}

int net_code_from_resolver(int result, int err)
{
    switch (result) {
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
    case EAI_NODATA: return 11004;
    case EAI_ADDRFAMILY: return 11004;
    case EAI_MEMORY: return 12;
    case EAI_SERVICE: return 10109;
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_BADFLAGS: return 10022;
    case EAI_SYSTEM: return net_code_from_errno(err);
    default: return result < 0 ? result : -result;
    }
}
