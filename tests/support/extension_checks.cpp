#include "support/extension_checks.h"

#include <gtest/gtest.h>

#include <thread>

namespace tolvane::testing {

void Browse(TFakeIsapiConnection& Connection) {
  Connection.SetMethod("GET").SetPathInfo("/").SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
}

void ExpectPage(const TFakeIsapiConnection& Connection) {
  auto Header = Connection.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
  ASSERT_EQ(Header.size(), 1u);
  EXPECT_EQ(Header[0].Data, "200 OK");
  ASSERT_TRUE(Header[0].Extra);
  EXPECT_NE(Header[0].Extra->find("Content-Type: text/html\r\n"), std::string::npos) << *Header[0].Extra;
  EXPECT_NE(Header[0].Extra->find("Content-Length: 60\r\n"), std::string::npos) << *Header[0].Extra;
  EXPECT_EQ(Connection.Written(), kApplicationPage);
}

void ExpectServedOnThisThread(PFN_HTTPEXTENSIONPROC HttpExtensionProc) {
  TFakeIsapiConnection Connection;
  Browse(Connection);
  EXPECT_EQ(HttpExtensionProc(Connection.ECB()), HSE_STATUS_SUCCESS);
  ExpectPage(Connection);
  EXPECT_EQ(Connection.DoneCount(), 0);
  for (const auto& Call : Connection.Calls()) EXPECT_EQ(Call.Thread, std::this_thread::get_id());
}

HSE_VERSION_INFO StartUp(PFN_GETEXTENSIONVERSION GetExtensionVersion) {
  HSE_VERSION_INFO Ver{};
  EXPECT_EQ(GetExtensionVersion(&Ver), ISAPI_TRUE);
  return Ver;
}

}  // namespace tolvane::testing
