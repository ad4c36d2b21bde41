#include "cli/error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>

TEST(ErrorText, EveryRowOfTheTable)
{
    const std::map<std::int32_t, std::string> table = {
        {1, "Operation not permitted"}, {2, "No such file or directory"}, {3, "No such process"},
        {4, "Interrupted function"}, {5, "I/O error"}, {6, "Specified event object handle is invalid"},
        {7, "Argument list too long"}, {8, "Exec format error"}, {9, "Bad file number"},
        {10, "No spawned processes"},
        {11, "No more processes or not enough memory or maximum nesting level reached"},
        {12, "Not enough memory"}, {13, "Permission denied"}, {14, "Bad address"},
        {16, "Device or resource busy"}, {17, "File exists"}, {18, "Cross-device link"},
        {19, "No such device"}, {20, "Not a directory"}, {21, "Is a directory"},
        {22, "Invalid argument"}, {23, "Too many files open in system"}, {24, "Too many open files"},
        {25, "Inappropriate I/O control operation"}, {27, "File too large"},
        {28, "No space left on device"}, {29, "Invalid seek"}, {30, "Read-only file system"},
        {31, "Too many links"}, {32, "Broken pipe"}, {33, "Math argument"}, {34, "Result too large"},
        {36, "Resource deadlock would occur"}, {38, "Filename too long"}, {39, "No locks available"},
        {40, "Function not supported"}, {41, "Directory not empty"}, {42, "Illegal byte sequence"},
        {80, "String was truncated"}, {87, "One or more parameters are invalid"},
        {10004, "Interrupted function call"}, {10013, "Permission denied"}, {10014, "Bad address"},
        {10022, "Invalid argument"}, {10024, "Too many open files"},
        {10035, "Resource temporarily unavailable"}, {10036, "Operation now in progress"},
        {10037, "Operation already in progress"}, {10038, "Socket operation on nonsocket"},
        {10039, "Destination address required"}, {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"}, {10042, "Bad protocol option"},
        {10043, "Protocol not supported"}, {10044, "Socket type not supported"},
        {10045, "Operation not supported"}, {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"}, {10048, "Address already in use"},
        {10049, "Cannot assign requested address"}, {10050, "Network is down"},
        {10051, "Network is unreachable"}, {10052, "Network dropped connection on reset"},
        {10053, "Software caused connection abort"}, {10054, "Connection reset by peer"},
        {10055, "No buffer space available"}, {10056, "Socket is already connected"},
        {10057, "Socket is not connected"}, {10058, "Cannot send after socket shutdown"},
        {10060, "Connection timed out"}, {10061, "Connection refused"}, {10064, "Host is down"},
        {10065, "No route to host"}, {10067, "Too many processes"},
        {10091, "Network subsystem is unavailable"}, {10092, "Winsock.dll version out of range"},
        {10093, "Successful WSAStartup not yet performed"}, {10101, "Graceful shutdown in progress"},
        {10109, "Class type not found"}, {11001, "Host not found"},
        {11002, "Nonauthoritative host not found"}, {11003, "This is a nonrecoverable error"},
        {11004, "Valid name, no data record of requested type"},
    };
    // Every code in and around the table's ranges: a row gives its text, the rest "Unknown error".
    for (std::int32_t code = -2; code <= 11010; ++code) {
        auto row = table.find(code);
        EXPECT_EQ(error_text(code), row == table.end() ? "Unknown error" : row->second) << code;
    }
    for (std::int32_t code : {std::numeric_limits<std::int32_t>::min(), 100000,
                              std::numeric_limits<std::int32_t>::max()})
        EXPECT_STREQ(error_text(code), "Unknown error") << code;
}
