// Windows-style numeric result codes.
//
// The core reports failures with the numeric codes that its callers compare
// against (0 success, 87 invalid parameter, 30 read fault, ...). On Linux the
// underlying failures arrive as errno values; this file maps them onto those
// codes and gives each code the text a Linux user knows for it.
#pragma once

#include <string>

namespace qm {

namespace err {
inline constexpr int kSuccess = 0;
inline constexpr int kInvalidFunction = 1;
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kTooManyOpenFiles = 4;
inline constexpr int kAccessDenied = 5;
inline constexpr int kInvalidHandle = 6;
inline constexpr int kNotEnoughMemory = 8;
inline constexpr int kInvalidData = 13;
inline constexpr int kOutOfMemory = 14;
inline constexpr int kNotReady = 21;
inline constexpr int kCrc = 23;
inline constexpr int kSeek = 25;
inline constexpr int kWriteFault = 29;
inline constexpr int kReadFault = 30;
inline constexpr int kGenFailure = 31;
inline constexpr int kSharingViolation = 32;
inline constexpr int kHandleEof = 38;
inline constexpr int kHandleDiskFull = 39;
inline constexpr int kNotSupported = 50;
inline constexpr int kFileExists = 80;
inline constexpr int kCannotMake = 82;
inline constexpr int kInvalidParameter = 87;
inline constexpr int kBrokenPipe = 109;
inline constexpr int kDiskFull = 112;
inline constexpr int kInsufficientBuffer = 122;
inline constexpr int kInvalidName = 123;
inline constexpr int kDirNotEmpty = 145;
inline constexpr int kBusy = 170;
inline constexpr int kAlreadyExists = 183;
inline constexpr int kFilenameTooLong = 206;
inline constexpr int kDirectory = 267;
inline constexpr int kNoUnicodeTranslation = 1113;
inline constexpr int kDiskCorrupt = 1393;
inline constexpr int kDeviceRemoved = 1617;
// The value every callback returns once the user has cancelled.
inline constexpr int kCancelled = -9527;
}  // namespace err

// Maps an errno value to the matching code above (unknown values: 31).
int ErrorFromErrno(int errnoValue);

// ErrorFromErrno(errno), for use right after a failing system call.
int LastError();

// Readable English text for a code, worded as strerror(3) words the errno
// the code stands for ("Permission denied"); no final full stop, so that it
// fits after "cannot open FILE: ".
std::string ErrorText(int code);

// What a user can do about a code met while opening a disk, or an empty
// string: for "Permission denied", how to get read access to a disk.
std::string DiskOpenHint(int code);

}  // namespace qm
