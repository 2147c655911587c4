#include "platform/errors.h"

#include <cerrno>

namespace qm {

int ErrorFromErrno(int e) {
  switch (e) {
    case 0: return err::kSuccess;
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EMFILE:
    case ENFILE: return err::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return err::kAccessDenied;
    case EBADF: return err::kInvalidHandle;
    case ENOMEM: return err::kNotEnoughMemory;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return err::kNotReady;
    case ESPIPE: return err::kSeek;
    case EIO: return err::kCrc;
    case EBUSY: return err::kBusy;
    case ETXTBSY: return err::kSharingViolation;
    case ENOSPC:
    case EDQUOT: return err::kDiskFull;
    case EFBIG: return err::kHandleDiskFull;
    case ENOTSUP: return err::kNotSupported;
    case EEXIST: return err::kAlreadyExists;
    case EINVAL:
    case EOVERFLOW: return err::kInvalidParameter;
    case EPIPE: return err::kBrokenPipe;
    case ENAMETOOLONG: return err::kFilenameTooLong;
    case EISDIR: return err::kDirectory;
    case ENOTEMPTY: return err::kDirNotEmpty;
    case EILSEQ: return err::kNoUnicodeTranslation;
    case ENOTBLK: return err::kInvalidFunction;
    default: return err::kGenFailure;
  }
}

int LastError() { return ErrorFromErrno(errno); }

// Codes with an errno twin read as strerror(3) words them on Linux, so that
// messages look like those of every other tool on the system; the others
// say what happened in the same plain style.
std::string ErrorText(int code) {
  switch (code) {
    case err::kSuccess: return "Success";
    case err::kInvalidFunction: return "Operation not supported on this kind of file";
    case err::kFileNotFound: return "No such file or directory";
    case err::kPathNotFound: return "Not a directory";
    case err::kTooManyOpenFiles: return "Too many open files";
    case err::kAccessDenied: return "Permission denied";
    case err::kInvalidHandle: return "Bad file descriptor";
    case err::kNotEnoughMemory: return "Cannot allocate memory";
    case err::kInvalidData: return "The data on the disk is damaged or not in the expected format";
    case err::kOutOfMemory: return "Cannot allocate memory";
    case err::kNotReady: return "No such device, or no medium in it";
    case err::kCrc: return "Input/output error";
    case err::kSeek: return "Illegal seek";
    case err::kWriteFault: return "Input/output error while writing";
    case err::kReadFault: return "Input/output error while reading";
    case err::kGenFailure: return "The operation failed for a reason the system did not give";
    case err::kSharingViolation: return "Text file busy";
    case err::kHandleEof: return "Unexpected end of file";
    case err::kHandleDiskFull: return "File too large";
    case err::kNotSupported: return "Operation not supported";
    case err::kFileExists: return "File exists";
    case err::kCannotMake: return "Cannot create the file or folder";
    case err::kInvalidParameter: return "Invalid argument";
    case err::kBrokenPipe: return "Broken pipe";
    case err::kDiskFull: return "No space left on device";
    case err::kInsufficientBuffer: return "Buffer too small for the data";
    case err::kInvalidName: return "Invalid file or folder name";
    case err::kDirNotEmpty: return "Directory not empty";
    case err::kBusy: return "Device or resource busy";
    case err::kAlreadyExists: return "File exists";
    case err::kFilenameTooLong: return "File name too long";
    case err::kDirectory: return "Is a directory";
    case err::kNoUnicodeTranslation: return "Invalid or incomplete multibyte or wide character";
    case err::kDiskCorrupt: return "The file system's structures are damaged: nothing could be read through them";
    case err::kDeviceRemoved: return "The device was removed";
    case err::kCancelled: return "Cancelled by the user";
    default: return "Unknown error " + std::to_string(code);
  }
}

std::string DiskOpenHint(int code) {
  if (code != err::kAccessDenied) return {};
  return "reading a disk needs root (run with sudo) or membership of the group that owns it, "
         "usually \"disk\"";
}

}  // namespace qm
