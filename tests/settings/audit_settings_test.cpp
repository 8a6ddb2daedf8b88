#include "settings/audit_settings.h"
#include "support/support.h"

namespace {

const WCHAR kVelmor[] = WSTR("System\\CurrentControlSet\\Control\\Velmor");
const WCHAR kSource[] = WSTR("System\\CurrentControlSet\\Services\\EventLog\\Application\\wsxlum");

class AuditSettings : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(createKey(kVelmor), ERROR_SUCCESS); }
    void store(DWORD type, const std::vector<BYTE>& bytes) {
        ASSERT_EQ(setValue(kVelmor, WSTR("wsxlumEvent"), type, bytes), ERROR_SUCCESS);
    }
    Sandbox sandbox;
};

TEST_F(AuditSettings, OnlyANonZeroDwordEnables) {
    EXPECT_EQ(isAuditingEnabled(), 0); // absent
    store(REG_DWORD, dwordBytes(0));
    EXPECT_EQ(isAuditingEnabled(), 0);
    store(REG_DWORD, dwordBytes(2));
    EXPECT_EQ(isAuditingEnabled(), 1);
    store(REG_DWORD, dwordBytes(0x80000000u));
    EXPECT_EQ(isAuditingEnabled(), 1);
    const WCHAR one[] = WSTR("1");
    store(REG_SZ, std::vector<BYTE>(reinterpret_cast<const BYTE*>(one),
                                    reinterpret_cast<const BYTE*>(one) + sizeof one));
    EXPECT_EQ(isAuditingEnabled(), 0);
    store(REG_BINARY, dwordBytes(1));
    EXPECT_EQ(isAuditingEnabled(), 0);
}

TEST_F(AuditSettings, ALongerValueFailsTheQuery) {
    store(REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(isAuditingEnabled(), 0);
}

TEST_F(AuditSettings, AShortDwordReadsAsTheBytesPresent) {
    store(REG_DWORD, {1});
    EXPECT_EQ(isAuditingEnabled(), 1);
    store(REG_DWORD, {0, 1});
    EXPECT_EQ(isAuditingEnabled(), 1);
    store(REG_DWORD, {0});
    EXPECT_EQ(isAuditingEnabled(), 0);
    store(REG_DWORD, {});
    EXPECT_EQ(isAuditingEnabled(), 0);
}

TEST_F(AuditSettings, SetFlagWritesADword) {
    LONG status = -1;
    EXPECT_EQ(setAuditingFlag(5, &status), 1);
    EXPECT_EQ(status, ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, dwordBytes(1));
    EXPECT_EQ(setAuditingFlag(0), 1);
    ASSERT_EQ(queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, dwordBytes(0));
}

TEST(AuditSettingsWithoutKey, SetFlagNeverCreatesTheKey) {
    Sandbox sandbox;
    LONG status = -1;
    EXPECT_EQ(setAuditingFlag(1, &status), 0);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_EQ(queryValue(kVelmor, WSTR("wsxlumEvent"), &type, &data), ERROR_FILE_NOT_FOUND);
}

TEST(AuditSettingsWithoutKey, RegisterTwiceLeavesTheSameValues) {
    Sandbox sandbox;
    for (int round = 0; round < 2; ++round) {
        LONG status = -1;
        EXPECT_EQ(registerEventSource(&status), 1);
        EXPECT_EQ(status, ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_EQ(queryValue(kSource, WSTR("TypesSupported"), &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, REG_DWORD);
        EXPECT_EQ(data, dwordBytes(0x1F));
        ASSERT_EQ(queryValue(kSource, WSTR("EventMessageFile"), &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, REG_SZ);
        ASSERT_EQ(data.size(), 66u);
        WString text;
        for (size_t i = 0; i + 2 < data.size(); i += 2)
            text += static_cast<WCHAR>(data[i] | data[i + 1] << 8);
        EXPECT_EQ(utf8(text), "%SYSTEMROOT%\\System32\\wsxlum.dll");
        EXPECT_EQ(data[64], 0);
        EXPECT_EQ(data[65], 0);
    }
}

} // namespace
