#include <gtest/gtest.h>

#include "app/web_module1.h"
#include <tolvane/dispatch/web_action_item.h>
#include "support/application_page.h"
#include "support/test_web_request.h"

using namespace tolvane;
using tolvane::testing::kApplicationPage;
using tolvane::testing::TTestWebRequest;
using tolvane::testing::TTestWebResponse;

TEST(WebModule1, ReadsItsStoredDefinition) {
  TComponentPtr<TWebModule1> m(NewComponent<TWebModule1>(nullptr));
  EXPECT_EQ(m->Name(), u"WebModule1");
  EXPECT_FALSE(m->OldCreateOrder());
  EXPECT_EQ(m->DesignHeight(), 230);
  EXPECT_EQ(m->DesignWidth(), 415);
  ASSERT_EQ(m->Actions()->Count(), 1);
  TWebActionItem* item = m->Actions()->GetActionItem(0);
  EXPECT_EQ(item->GetDisplayName(), u"DefaultHandler");
  EXPECT_EQ(item->GetPathInfo(), u"/");
  EXPECT_TRUE(item->Default());
  EXPECT_TRUE(item->Enabled());
  EXPECT_EQ(item->MethodType(), TMethodType::mtAny);
  EXPECT_EQ(item->OnAction().Data(), m.get());
}

TEST(WebModule1, AnswersEveryMethodAndPathWithThePage) {
  TComponentPtr<TWebModule1> m(NewComponent<TWebModule1>(nullptr));
  for (const char* method : {"GET", "POST", "HEAD", "DELETE", "get"}) {
    for (const char* path : {"/", "", "/a/longer/path", "/<script>"}) {
      TTestWebRequest request;
      request.Set(rvMethod, method).Set(rvPathInfo, path);
      TTestWebResponse response(&request);
      response.SetContentType("text/html");
      EXPECT_TRUE(m->HandleRequest(&request, &response)) << method << " " << path;
      EXPECT_EQ(response.RawContent(), kApplicationPage);
      EXPECT_EQ(response.ContentType(), "text/html");
      EXPECT_FALSE(response.Sent());  // sending is the request handler's business
    }
  }
}
