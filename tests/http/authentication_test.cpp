#include "http/authentication.h"

#include <gtest/gtest.h>

#include "http/base64.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

TEST(Base64Test, EncodesAndDecodesTheRfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(EncodeBase64(plain), encoded);
    EXPECT_EQ(DecodeBase64(encoded), plain);
  }
}

TEST(Base64Test, RoundTripsEveryByteValue) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (size_t length : {size_t{254}, size_t{255}, size_t{256}}) {
    const std::string part = bytes.substr(0, length);
    const std::string encoded = EncodeBase64(part);
    EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
    EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(DecodeBase64(encoded), part);
  }
}

TEST(Base64Test, RejectsMalformedInput) {
  const std::pair<const char*, const char*> faults[] = {
      {"Zg=", "Uneven size in DecodeToStream."},
      {"Zm9vY", "Uneven size in DecodeToStream."},
      {"Zm9v!A==", "Invalid character in base64 text."},
      {"Zg==Zm9v", "Invalid character in base64 text."},
      {"Z===", "Invalid character in base64 text."},
      {"Zm 9", "Invalid character in base64 text."},
  };
  for (const auto& [text, message] : faults) {
    try {
      DecodeBase64(text);
      ADD_FAILURE() << "no exception for " << text;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), message) << text;
    }
  }
}

TEST(Base64Test, EncodesAPartOfAStreamOnlyInWholeGroups) {
  TStringStream stream("0123456789");
  EXPECT_EQ(EncodeBase64(stream, 3), "MDEy");
  EXPECT_EQ(RaisedMessage<EIdException>([&] { EncodeBase64(stream, 4); }), "Uneven size in Encode.");
  stream.SetPosition(3);
  EXPECT_EQ(EncodeBase64(stream, -1), EncodeBase64("3456789"));
}

TEST(TIdBasicAuthenticationTest, BuildsTheCredentialsText) {
  TIdBasicAuthentication auth;
  auth.SetUsername("a");
  auth.SetPassword("b");
  EXPECT_EQ(auth.CredentialsText(), "Basic YTpi");
  EXPECT_EQ(auth.Username(), "a");
  EXPECT_EQ(auth.Password(), "b");

  auth.SetPassword("");
  EXPECT_EQ(auth.CredentialsText(), "Basic YTo=");
  auth.SetUsername("\xD3\xC3\xBB\xA7");  // GBK bytes are taken as they are
  EXPECT_EQ(auth.CredentialsText(), "Basic " + EncodeBase64("\xD3\xC3\xBB\xA7:"));
}

TEST(TIdBasicAuthenticationTest, ReadsTheRealmAndCountsAttempts) {
  TIdBasicAuthentication auth;
  TIdHeaderList challenge;
  challenge.Add("Other scheme=\"x\"");
  challenge.Add("Basic realm=\"files\", charset=\"UTF-8\"");
  auth.SetAuthenticationParams(challenge);

  EXPECT_EQ(auth.NextStep(), wnAskTheProgram);
  EXPECT_EQ(auth.Realm(), "files");
  EXPECT_EQ(auth.Params().ValueOf("charset"), "\"UTF-8\"");
  EXPECT_EQ(auth.CurrentAttempt(), 1);

  auth.SetUsername("u");
  EXPECT_EQ(auth.NextStep(), wnDoRequest);
  EXPECT_EQ(auth.CurrentAttempt(), 2);
  auth.Reset();
  EXPECT_EQ(auth.CurrentAttempt(), 0);
  EXPECT_EQ(auth.Steps(), 1);
}

TEST(TIdBasicAuthenticationTest, TakesAnUnquotedRealmWhole) {
  TIdBasicAuthentication auth;
  TIdHeaderList challenge;
  challenge.Add("Basic realm=files");
  auth.SetAuthenticationParams(challenge);
  auth.NextStep();
  EXPECT_EQ(auth.Realm(), "files");
}

TEST(AuthRegistryTest, KnowsBasicAndRefusesASecondRegistration) {
  const TIdAuthenticationClass* basic = FindAuthClass("basic");
  ASSERT_NE(basic, nullptr);
  EXPECT_EQ(basic->ClassName, "TIdBasicAuthentication");
  EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(basic->Create().get()), nullptr);
  EXPECT_EQ(FindAuthClass("Digest"), nullptr);

  const TIdAuthenticationClass other{"TOtherAuthentication", [] {
                                       return std::unique_ptr<TIdAuthentication>(
                                           std::make_unique<TIdBasicAuthentication>());
                                     }};
  EXPECT_EQ(RaisedMessage<EIdAlreadyRegisteredAuthenticationMethod>([&] { RegisterAuthClass("BASIC", other); }),
            "This authentication method is already registered with class name TIdBasicAuthentication.");

  if (FindAuthClass("X-Test-Scheme") == nullptr) RegisterAuthClass("X-Test-Scheme", other);
  EXPECT_EQ(FindAuthClass("x-test-scheme")->ClassName, "TOtherAuthentication");
  EXPECT_EQ(FindAuthClass("Basic"), basic);  // registering more does not move what was handed out
}
