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

std::string ErrorText(int code) {
  switch (code) {
    case err::kSuccess: return "The operation completed successfully.";
    case err::kInvalidFunction: return "Incorrect function.";
    case err::kFileNotFound: return "The system cannot find the file specified.";
    case err::kPathNotFound: return "The system cannot find the path specified.";
    case err::kTooManyOpenFiles: return "The system cannot open the file: too many open files.";
    case err::kAccessDenied: return "Access is denied.";
    case err::kInvalidHandle: return "The handle is invalid.";
    case err::kNotEnoughMemory: return "Not enough memory resources are available to process this command.";
    case err::kInvalidData: return "The data is invalid.";
    case err::kOutOfMemory: return "Not enough memory resources are available to complete this operation.";
    case err::kNotReady: return "The device is not ready.";
    case err::kCrc: return "Data error (cyclic redundancy check): the device reported an I/O error.";
    case err::kSeek: return "The drive cannot locate a specific area or track on the disk.";
    case err::kWriteFault: return "The system cannot write to the specified device.";
    case err::kReadFault: return "The system cannot read from the specified device.";
    case err::kGenFailure: return "A device attached to the system is not functioning.";
    case err::kSharingViolation: return "The process cannot access the file because it is being used by another process.";
    case err::kHandleEof: return "Reached the end of the file.";
    case err::kHandleDiskFull: return "The file is too large for the destination file system.";
    case err::kNotSupported: return "The request is not supported.";
    case err::kFileExists: return "The file exists.";
    case err::kCannotMake: return "The directory or file cannot be created.";
    case err::kInvalidParameter: return "The parameter is incorrect.";
    case err::kBrokenPipe: return "The pipe has been ended.";
    case err::kDiskFull: return "There is not enough space on the disk.";
    case err::kInsufficientBuffer: return "The data area passed to a system call is too small.";
    case err::kInvalidName: return "The filename, directory name, or volume label syntax is incorrect.";
    case err::kDirNotEmpty: return "The directory is not empty.";
    case err::kBusy: return "The requested resource is in use.";
    case err::kAlreadyExists: return "Cannot create a file when that file already exists.";
    case err::kFilenameTooLong: return "The filename or extension is too long.";
    case err::kDirectory: return "The directory name is invalid.";
    case err::kNoUnicodeTranslation: return "No mapping for the Unicode character exists in the target multi-byte code page.";
    case err::kDiskCorrupt: return "The file system's structures are damaged: nothing could be read through them.";
    case err::kDeviceRemoved: return "The device has been removed.";
    case err::kCancelled: return "The operation was cancelled by the user.";
    default: return "Unknown error " + std::to_string(code) + ".";
  }
}

}  // namespace qm
