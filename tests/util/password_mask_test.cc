// Passwords hidden in the texts that the programs write: every form a
// server field can carry one in, and nothing else touched.
#include <gtest/gtest.h>

#include "util/password_mask.h"

namespace hostlore {
namespace {

TEST(PasswordMaskTest, EveryFormIsHiddenAndNothingElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"1,PC042,odbc:DSN=Inv;UID=postgres;PWD=S3cretPw;Port=5,,3", "1,PC042,odbc:DSN=Inv;UID=postgres;PWD=***;Port=5,,3"},
      {"odbc:Driver={X};password = S3cretPw", "odbc:Driver={X};password = ***"},
      {"odbc:Pwd={S3c;ret}}Pw};UID=a", "odbc:Pwd=***;UID=a"},
      {"1,PC042,postgresql://alice:S3cretPw@db:5432/inv,,3", "1,PC042,postgresql://alice:***@db:5432/inv,,3"},
      {"Data Source=SQL01;PWD=S3cretPw", "Data Source=SQL01;PWD=***"},
      // No password: as it was.
      {"postgresql://alice@db/inv", "postgresql://alice@db/inv"},
      {"odbc:DSN=Inv;UID=x;PWD=;NOPWD=y;PasswordFile=z", "odbc:DSN=Inv;UID=x;PWD=;NOPWD=y;PasswordFile=z"},
      {"Insufficient access or error accessing PC ,PC042:", "Insufficient access or error accessing PC ,PC042:"},
  };
  for (const auto& [text, masked] : cases) {
    EXPECT_EQ(MaskPasswords(text), masked) << text;
    EXPECT_EQ(HoldsPassword(text), std::string(text) != masked) << text;
  }
}

}  // namespace
}  // namespace hostlore
