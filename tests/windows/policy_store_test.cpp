// The policies as an administrator stores them (reg add, as a Group Policy
// refresh or a deployment script writes them), read back through the store:
// both keys, the machine's value winning, every damaged one named.
#include "policy_store.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "policy_keys.h"

namespace {

void add(const char *root, const char *name, const char *type, const std::string &data) {
  ASSERT_EQ(add_policy(root, name, type, data), 0u) << name;
}

class PolicyStore : public ::testing::Test {
 protected:
  void SetUp() override { clear_policies(); }
  void TearDown() override { clear_policies(); }
  std::string json() {
    mjh_policy p;
    mjw_policy_store_read(&p);
    mjh_text_buffer<4096> out;
    mjh_policy_json(p, out);
    EXPECT_TRUE(out.ok());
    return out.c_str();
  }
};

TEST_F(PolicyStore, NoKeysSetNothing) { EXPECT_EQ(json(), "{\"in_force\":{},\"damaged\":[]}"); }

TEST_F(PolicyStore, BothKeysTheMachinesValueFirstAndEveryDamageNamed) {
  add("HKLM", "MaxIntervalSeconds", "REG_DWORD", "300");
  add("HKLM", "KeepAwake", "REG_DWORD", "7");
  add("HKLM", "WorkingHours", "REG_SZ", "8:30-17");
  add("HKLM", "WorkingDays", "REG_SZ", "Mon-Fri");
  add("HKCU", "MaxIntervalSeconds", "REG_DWORD", "60");
  add("HKCU", "Allowed", "REG_DWORD", "0");
  add("HKCU", "KeepAwake", "REG_SZ", "1");
  add("HKCU", "StartWithWindows", "REG_QWORD", "1");
  add("HKCU", "WorkingHours", "REG_EXPAND_SZ", "09:00-10:00");
  EXPECT_EQ(json(),
            "{\"in_force\":{\"Allowed\":{\"value\":0,\"scope\":\"user\"},"
            "\"MaxIntervalSeconds\":{\"value\":300,\"scope\":\"machine\"},"
            "\"WorkingHours\":{\"value\":\"08:30-17:00\",\"scope\":\"machine\"},"
            "\"WorkingDays\":{\"value\":\"mon-fri\",\"scope\":\"machine\"}},"
            "\"damaged\":[{\"name\":\"KeepAwake\",\"scope\":\"machine\",\"problem\":\"out of range 0 to 1: 7\"},"
            "{\"name\":\"KeepAwake\",\"scope\":\"user\",\"problem\":\"not a DWORD\"},"
            "{\"name\":\"StartWithWindows\",\"scope\":\"user\",\"problem\":\"not a DWORD\"},"
            "{\"name\":\"WorkingHours\",\"scope\":\"user\",\"problem\":\"not a string (REG_SZ)\"}]}");
}

TEST_F(PolicyStore, TextsAreReadAsUtf8AndOversizedOnesAreDamaged) {
  add("HKCU", "WorkingHours", "REG_SZ", "09:00-17:00");
  add("HKCU", "WorkingDays", "REG_SZ", "lundi\xc3\xa9");  // not a day this reader knows
  std::string j = json();
  EXPECT_NE(j.find("{\"name\":\"WorkingDays\",\"scope\":\"user\",\"problem\":\"does not read: "), std::string::npos)
      << j;
  EXPECT_EQ(j.find("\"in_force\":{}"), 1u) << j;

  add("HKLM", "WorkingHours", "REG_SZ", std::string(2000, '9'));
  j = json();
  EXPECT_NE(j.find("{\"name\":\"WorkingHours\",\"scope\":\"machine\",\"problem\":\"not a string (REG_SZ)\"}"),
            std::string::npos)
      << j;
}

TEST_F(PolicyStore, ValuesOfOneKeyAsStored) {
  add("HKLM", "MaxIntervalSeconds", "REG_DWORD", "4294967295");
  add("HKLM", "WorkingHours", "REG_SZ", "any");
  mjh_value values[MJH_POLICY_COUNT];
  char texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX];
  ASSERT_TRUE(mjw_policy_store_values(HKEY_LOCAL_MACHINE, values, texts));
  EXPECT_EQ(values[MJH_POLICY_MAX_INTERVAL].type, MJH_VALUE_NUMBER);
  EXPECT_EQ(values[MJH_POLICY_MAX_INTERVAL].number, 4294967295u);
  ASSERT_EQ(values[MJH_POLICY_WORKING_HOURS].type, MJH_VALUE_TEXT);
  EXPECT_STREQ(values[MJH_POLICY_WORKING_HOURS].text, "any");
  EXPECT_EQ(values[MJH_POLICY_ALLOWED].type, MJH_VALUE_MISSING);
  EXPECT_FALSE(mjw_policy_store_values(HKEY_CURRENT_USER, values, texts));
  EXPECT_EQ(values[MJH_POLICY_MAX_INTERVAL].type, MJH_VALUE_MISSING);
}

}  // namespace
