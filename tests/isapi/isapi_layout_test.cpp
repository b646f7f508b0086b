// The structures cross a binary boundary between host and extension, so their
// layout must be the one every other ISAPI party on x86-64 Linux uses.
#include <tolvane/isapi/isapi.h>

#include <cstddef>
#include <type_traits>

#include <gtest/gtest.h>

#if defined(__x86_64__)
static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4 && sizeof(HCONN) == 8);
static_assert(std::is_standard_layout_v<HSE_VERSION_INFO> && std::is_standard_layout_v<EXTENSION_CONTROL_BLOCK>);

static_assert(offsetof(HSE_VERSION_INFO, dwExtensionVersion) == 0);
static_assert(offsetof(HSE_VERSION_INFO, lpszExtensionDesc) == 4);
static_assert(sizeof(HSE_VERSION_INFO) == 260);

static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbSize) == 0);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, dwVersion) == 4);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ConnID) == 8);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, dwHttpStatusCode) == 16);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszLogData) == 20);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 104);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszQueryString) == 112);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszPathInfo) == 120);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszPathTranslated) == 128);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbTotalBytes) == 136);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbAvailable) == 140);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == 144);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszContentType) == 152);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) == 160);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, WriteClient) == 168);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ReadClient) == 176);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ServerSupportFunction) == 184);
static_assert(sizeof(EXTENSION_CONTROL_BLOCK) == 192);
#endif

static_assert(HSE_STATUS_SUCCESS == 1 && HSE_STATUS_PENDING == 3 && HSE_STATUS_ERROR == 4);
static_assert(HSE_REQ_SEND_URL_REDIRECT_RESP == 1 && HSE_REQ_SEND_RESPONSE_HEADER == 3 &&
              HSE_REQ_DONE_WITH_SESSION == 4 && HSE_REQ_MAP_URL_TO_PATH == 1001);
static_assert(HSE_LOG_BUFFER_LEN == 80 && HSE_MAX_EXT_DLL_NAME_LEN == 256);

// The version word packs the major number in the high half, as hosts decode it.
TEST(IsapiInterface, VersionWordPacksMajorHigh) {
  const DWORD Version = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  EXPECT_EQ(Version >> 16, 2u);
  EXPECT_EQ(Version & 0xFFFFu, 0u);
  EXPECT_EQ(HseMakeVersion(1, 5), 0x00010005u);
}
