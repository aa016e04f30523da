// The download service's decisions: what is retried and after how long,
// what counts as a web page rather than the plug-in, header values, and
// which proxy challenge gets the user's logon, and how the body is read.
#include <gtest/gtest.h>

#include <string>

#include "download/download_policy.h"
#include "download/http_fields.h"
#include "download/plugin_body.h"
#include "platform/error.h"

namespace zarvelo {
namespace {

// A literal's bytes, zeros included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

AttemptOutcome Ended(AttemptEnd end) {
  AttemptOutcome outcome;
  outcome.end = end;
  outcome.result = kInetEDownloadFailure;
  return outcome;
}

TEST(RetryPolicy, TransientFaultsAreTriedThreeTimesInAll) {
  struct Case {
    const char* what;
    AttemptOutcome outcome;
    bool retried;
  } cases[] = {
      {"refused", Ended(AttemptEnd::kRefused), true},
      {"dropped", Ended(AttemptEnd::kDropped), true},
      {"name not resolved", Ended(AttemptEnd::kNameNotResolved), true},
      {"408", HttpStatusOutcome(408), true},
      {"429", HttpStatusOutcome(429), true},
      {"500", HttpStatusOutcome(500), true},
      {"502", HttpStatusOutcome(502), true},
      {"503", HttpStatusOutcome(503), true},
      {"504", HttpStatusOutcome(504), true},
      {"400", HttpStatusOutcome(400), false},
      {"403", HttpStatusOutcome(403), false},
      {"404", HttpStatusOutcome(404), false},
      {"407", HttpStatusOutcome(407), false},
      {"501", HttpStatusOutcome(501), false},
      {"stalled", Ended(AttemptEnd::kStalled), false},
      {"certificate or TLS", Ended(AttemptEnd::kSecurity), false},
      {"https to http", Ended(AttemptEnd::kRedirectRefused), false},
      {"a web page", Ended(AttemptEnd::kNotThePlugin), false},
      {"anything else", Ended(AttemptEnd::kOther), false},
      {"complete", Ended(AttemptEnd::kComplete), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RetryWaitMs(c.outcome, 1), c.retried ? 1000 : kNoRetry);
    EXPECT_EQ(RetryWaitMs(c.outcome, 2), c.retried ? 3000 : kNoRetry);
    EXPECT_EQ(RetryWaitMs(c.outcome, 3), kNoRetry);
  }
}

TEST(RetryPolicy, RetryAfterUpToTenSecondsIsWaitedFor) {
  struct Case {
    std::int64_t retryAfterMs;
    int attemptsMade;
    std::int64_t wait;
  } cases[] = {
      {-1, 1, 1000},   {0, 1, 1000},     {2000, 1, 2000},         {2000, 2, 3000},
      {10000, 1, 10000}, {10000, 2, 10000}, {11000, 1, kNoRetry}, {INT64_MAX, 1, kNoRetry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retryAfterMs);
    EXPECT_EQ(RetryWaitMs(HttpStatusOutcome(503, c.retryAfterMs), c.attemptsMade), c.wait);
  }
}

TEST(RetryPolicy, StatusesAreReportedAsTheUrlServiceDoes) {
  EXPECT_EQ(HttpStatusOutcome(404).result, kInetEResourceNotFound);
  EXPECT_EQ(HttpStatusOutcome(410).result, kInetEResourceNotFound);
  EXPECT_EQ(HttpStatusOutcome(302).result, kInetERedirectFailed);
  EXPECT_EQ(HttpStatusOutcome(503).result, kInetEDownloadFailure);
  EXPECT_EQ(HttpStatusOutcome(407).result, kInetEDownloadFailure);
  EXPECT_EQ(HttpStatusOutcome(400).result, kInetEDownloadFailure);
  EXPECT_EQ(HttpStatusOutcome(300).result, kInetERedirectFailed);
  EXPECT_EQ(HttpStatusOutcome(399).result, kInetERedirectFailed);
}

TEST(ProxyLogonPolicy, OnlyIntegratedSchemesGetTheUsersLogonAndOnlyOnce) {
  struct Case {
    ProxyChallenge challenge;
    ProxyLogon logon;
  } cases[] = {
      {{false, false, false}, ProxyLogon::kNone},  // Basic or Digest only
      {{false, true, false}, ProxyLogon::kNtlm},
      {{true, false, false}, ProxyLogon::kNegotiate},
      {{true, true, false}, ProxyLogon::kNegotiate},
      {{true, true, true}, ProxyLogon::kNone},
      {{false, true, true}, ProxyLogon::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseProxyLogon(c.challenge), c.logon);
}

TEST(ProxyPolicy, ScriptThenManualThenWinHttpDefaultAndAFailedLookupIsNotKept) {
  using L = ProxyLookup;
  using S = ProxySource;
  struct Case {
    ProxySettings settings;
    S source;
    bool remember;
  } cases[] = {
      {{L::kProxy, true, true}, S::kLookup, true},
      {{L::kDirect, true, true}, S::kDirect, true},  // the script's word stands
      {{L::kFailed, true, true}, S::kManual, false},
      {{L::kFailed, false, true}, S::kWinHttpDefault, false},
      {{L::kFailed, false, false}, S::kDirect, false},
      {{L::kNone, true, true}, S::kManual, true},
      {{L::kNone, false, true}, S::kWinHttpDefault, true},
      {{L::kNone, false, false}, S::kDirect, true},
  };
  for (const Case& c : cases) {
    const ProxyPlan plan = ChooseProxy(c.settings);
    EXPECT_EQ(plan.source, c.source) << static_cast<int>(c.settings.lookup) << c.settings.manual;
    EXPECT_EQ(plan.remember, c.remember) << static_cast<int>(c.settings.lookup);
  }
}

TEST(SendAgainPolicy, WhatWindowsAsksToResendGoesOutAgainAtMostThreeTimes) {
  struct Case {
    SendAgainReason reason;
    int sentAgain;
    SendAgain decision;
  } cases[] = {
      {SendAgainReason::kResendAsked, 0, SendAgain::kAsItIs},
      {SendAgainReason::kResendAsked, 2, SendAgain::kAsItIs},
      {SendAgainReason::kResendAsked, 3, SendAgain::kNo},
      {SendAgainReason::kCertificateAsked, 0, SendAgain::kWithoutCertificate},
      {SendAgainReason::kCertificateAsked, 3, SendAgain::kNo},
      {SendAgainReason::kNone, 0, SendAgain::kNo},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseSendAgain(c.reason, c.sentAgain), c.decision) << c.sentAgain;
  // Refused TLS versions: 1.3 is dropped, 1.2 never is.
  EXPECT_EQ(TlsFallback(TlsVersions::kTls12And13), TlsVersions::kTls12);
  EXPECT_EQ(TlsFallback(TlsVersions::kTls12), TlsVersions::kNone);
}

TEST(ReadPacing, WholeBuffersOnlyWhileTheLinkBringsOneWithinASecond) {
  constexpr std::uint32_t kBuffer = 64 * 1024;
  struct Case {
    const char* link;
    std::uint32_t bytes;    // per read
    std::uint64_t everyMs;  // a read each
    bool whole;             // after two seconds of it
  } cases[] = {
      {"loopback", 16 * 1024, 1, true},
      {"a buffer a second", 8 * 1024, 125, true},
      {"a little slower", 8 * 1024, 126, false},
      {"a trickle", 512, 100, false},
  };
  for (const Case& c : cases) {
    ReadPacing pacing(kBuffer, 0);
    for (std::uint64_t now = 0; now < 2000; now += c.everyMs)
      pacing.Read(c.bytes, now, now + c.everyMs);
    EXPECT_EQ(pacing.WholeBuffers(), c.whole) << c.link;
  }
  // A whole buffer that took longer than a second: back to asking first.
  ReadPacing pacing(kBuffer, 0);
  pacing.Read(kBuffer / 2, 0, 100);
  EXPECT_FALSE(pacing.WholeBuffers());
  pacing.Read(kBuffer / 2, 100, 200);
  EXPECT_TRUE(pacing.WholeBuffers());
  pacing.Read(kBuffer, 200, 1201);
  EXPECT_FALSE(pacing.WholeBuffers());
  pacing.Read(kBuffer / 2, 1201, 1300);
  EXPECT_FALSE(pacing.WholeBuffers()) << "half a buffer since";
}

TEST(PluginBody, WebPagesAreToldApartFromThePlugin) {
  struct Case {
    std::string start;
    bool page;
  } cases[] = {
      {"<!DOCTYPE html><html>", true},
      {"<!doctype HTML>", true},
      {"<html lang=zh>", true},
      {"<HTML>", true},
      {"\xEF\xBB\xBF<html>", true},
      {"\xEF\xBB\xBF \r\n\t <!DocType Html>", true},
      {"\n\n   <html", true},
      {"", false},
      {"<!doctype htm", false},
      {"<htm", false},
      {"<?xml version=\"1.0\"?><html>", true},
      {"x<html>", false},
      {"\xEF\xBB<html>", false},
      {"<!-- --><html>", true},
      {std::string("\x00<html>", 7), false},
      {"PK\x03\x04 plug-in", false},
      // UTF-16 pages, either byte order, and the other openings.
      {Bytes("\xFF\xFE<\0h\0t\0m\0l\0>\0"), true},
      {Bytes("\xFE\xFF\0 \0\n\0<\0!\0D\0O\0C\0T\0Y\0P\0E\0 \0H\0T\0M\0L"), true},
      {Bytes("\xFF\xFE<\0h\0"), false},
      {Bytes("\xFF\xFE<\x01html"), false},
      // Characters above 0xFF whose low bytes spell a page are no page.
      {Bytes("\xFF\xFE<\x01h\x01t\x01m\x01l\x01>\x01"), false},
      {Bytes("\xFE\xFF\0x\0<\0h\0t\0m\0l"), false},
      {"\xFF<html>", false},
      {"<HEAD><title>", true},
      {" \t<head>", true},
      {"\r\n<!--[if IE]>", true},
      {"<?XML version", true},
      {"<hea", false},
      {"<?xm", false},
      {"<!-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    WebPageSniffer whole;
    whole.Feed(c.start.data(), c.start.size());
    EXPECT_EQ(whole.IsWebPage(), c.page);
    WebPageSniffer byteByByte;  // as it may arrive
    for (const char byte : c.start) byteByByte.Feed(&byte, 1);
    EXPECT_EQ(byteByByte.IsWebPage(), c.page);
  }
}

TEST(PluginBody, HtmlContentTypeIsAWebPage) {
  struct Case {
    const wchar_t* type;
    bool page;
  } cases[] = {
      {L"text/html", true},          {L"Text/HTML; charset=utf-8", true}, {L" text/html ", true},
      {L"text/html;", true},         {L"text/htmlx", false},              {L"text/plain", false},
      {L"\ttext/html\t; charset=utf-8", true},
      {L"application/octet-stream", false}, {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWebPageType(c.type), c.page) << c.type;
}

TEST(HttpFields, ContentLengthAndRetryAfterAreReadStrictly) {
  EXPECT_EQ(ParseContentLength(L"300000"), std::optional<std::uint64_t>(300000));
  EXPECT_EQ(ParseContentLength(L" 0 "), std::optional<std::uint64_t>(0));
  EXPECT_EQ(ParseContentLength(L"\t42\t"), std::optional<std::uint64_t>(42));
  EXPECT_EQ(ParseContentLength(L"18446744073709551615"),
            std::optional<std::uint64_t>(UINT64_MAX));
  for (const wchar_t* bad : {L"", L" ", L"-1", L"+5", L"12a", L"1 2", L"0x10",
                             L"18446744073709551616", L"1, 1"})
    EXPECT_FALSE(ParseContentLength(bad)) << bad;

  EXPECT_EQ(ParseRetryAfterMs(L"2"), std::optional<std::int64_t>(2000));
  EXPECT_EQ(ParseRetryAfterMs(L" 0"), std::optional<std::int64_t>(0));
  EXPECT_EQ(ParseRetryAfterMs(L"\t3\t"), std::optional<std::int64_t>(3000));
  EXPECT_EQ(ParseRetryAfterMs(L"99999999999999999999"), std::optional<std::int64_t>(INT64_MAX));
  // From where seconds times 1000 would pass INT64_MAX, the value saturates.
  EXPECT_EQ(ParseRetryAfterMs(L"9223372036854775"),
            std::optional<std::int64_t>(9223372036854775000));
  EXPECT_EQ(ParseRetryAfterMs(L"9223372036854776"), std::optional<std::int64_t>(INT64_MAX));
  for (const wchar_t* bad : {L"", L"-3", L"1.5", L"Wed, 21 Oct 2026 07:28:00 GMT"})
    EXPECT_FALSE(ParseRetryAfterMs(bad)) << bad;
}

// Decided from the headers, before any file is made.
TEST(PluginBody, BodiesThatCannotBeThePluginAreRefusedBeforeReading) {
  constexpr std::uint64_t kMax = 67108864;
  const std::optional<std::wstring> none;
  struct Case {
    const char* what;
    BodyHeaders headers;
    BodyVerdict verdict;
    std::optional<std::uint64_t> length;
  } cases[] = {
      {"a length", {L"300000", none, none, L"application/octet-stream"}, BodyVerdict::kTake, 300000},
      {"empty", {L"0", none, none, none}, BodyVerdict::kTake, 0},
      {"the largest", {L"67108864", none, none, none}, BodyVerdict::kTake, kMax},
      {"one byte more", {L"67108865", none, none, none}, BodyVerdict::kTooLarge, std::nullopt},
      {"2^64 - 1", {L"18446744073709551615", none, none, none}, BodyVerdict::kTooLarge,
       std::nullopt},
      // A chunked body cut mid-chunk can look whole.
      {"chunked", {none, L"chunked", none, none}, BodyVerdict::kNoLength, std::nullopt},
      {"chunked, any case, a length too", {L"5", L" Chunked ", none, none},
       BodyVerdict::kNoLength, std::nullopt},
      {"no length", {none, none, none, none}, BodyVerdict::kNoLength, std::nullopt},
      {"a length that is none", {L"12a", none, none, none}, BodyVerdict::kNoLength, std::nullopt},
      {"too long to read", {L"18446744073709551616", none, none, none}, BodyVerdict::kNoLength,
       std::nullopt},
      {"gzip", {L"300", none, L"gzip", none}, BodyVerdict::kEncoded, std::nullopt},
      {"deflate, chunked", {none, L"chunked", L"deflate", none}, BodyVerdict::kEncoded,
       std::nullopt},
      {"gzip transfer coding", {none, L"gzip, chunked", none, none}, BodyVerdict::kEncoded,
       std::nullopt},
      {"identity", {L"300", none, L"Identity", none}, BodyVerdict::kTake, 300},
      {"empty encoding", {L"300", none, L" ", none}, BodyVerdict::kTake, 300},
      {"a web page", {L"300", none, none, L"text/html; charset=utf-8"}, BodyVerdict::kWebPage,
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BodyPlan plan = PlanBody(c.headers, kMax);
    EXPECT_EQ(plan.verdict, c.verdict);
    if (c.verdict == BodyVerdict::kTake) {
      EXPECT_EQ(plan.length, c.length);
    }
  }
}

}  // namespace
}  // namespace zarvelo
