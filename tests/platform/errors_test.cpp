#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace qm {
namespace {

TEST(Errors, ErrnoMapsToTheCodesCallersCompareWith) {
  const std::pair<int, int> cases[] = {
      {0, 0},       {ENOENT, 2},  {ENOTDIR, 3},  {EACCES, 5},   {EPERM, 5},
      {ENOMEM, 8},  {EEXIST, 183}, {EINVAL, 87}, {ENOSPC, 112}, {EISDIR, 267},
  };
  for (auto [e, code] : cases) EXPECT_EQ(ErrorFromErrno(e), code) << e;
  EXPECT_EQ(ErrorFromErrno(123456), err::kGenFailure);
}

TEST(Errors, EveryCodeHasReadableText) {
  for (int code : {0, 2, 3, 5, 8, 29, 30, 80, 87, 183, -9527}) {
    std::string text = ErrorText(code);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("Unknown"), std::string::npos) << code;
  }
  EXPECT_NE(ErrorText(99999).find("99999"), std::string::npos);
}

TEST(Errors, OnlyPermissionProblemsGetTheDiskAccessHint) {
  EXPECT_NE(DiskOpenHint(err::kAccessDenied).find("sudo"), std::string::npos);
  EXPECT_NE(DiskOpenHint(err::kAccessDenied).find("\"disk\""), std::string::npos);
  EXPECT_EQ(DiskOpenHint(err::kFileNotFound), "");
}

// A code that stands for an errno reads exactly as strerror words it.
TEST(Errors, TextsOfErrnoTwinsAreStrerrorWording) {
  for (int e : {ENOENT, EACCES, EPERM, EIO, ENOSPC, EEXIST, EINVAL, EISDIR, ENOTEMPTY, EBUSY,
                ENAMETOOLONG, EMFILE, ENOMEM, ENOTDIR, EFBIG, ESPIPE, EPIPE, EBADF, EILSEQ}) {
    // EPERM and EACCES share one code, worded as EACCES.
    const int code = ErrorFromErrno(e);
    EXPECT_EQ(ErrorText(code), std::strerror(e == EPERM ? EACCES : e)) << e;
  }
}

}  // namespace
}  // namespace qm
