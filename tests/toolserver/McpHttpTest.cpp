// Reading one request and writing one reply, byte by byte.
#include "toolserver/McpHttp.h"

#include <gtest/gtest.h>

using namespace McpHttp;
using State = RequestReader::State;

namespace {

TEST(McpHttp, ContentLengthReadsOnlyASignedDecimal)
{
    const struct {
        const char *text;
        qint64 value;
    } cases[] = {
        {"5", 5},      {" \t+12 \t", 12}, {"-3", -3}, {"0", 0},        {"12a", 0},
        {"", 0},       {"+", 0},          {"0x10", 0}, {"1 2", 0},      {"99999999999999999999", 0},
        {"９", 0},     {"007", 7},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseContentLength(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(McpHttp, HeadersAreFoundInAnyCaseAndTheLastOneWins)
{
    Request r;
    parseHeaders("POST /mcp HTTP/1.1\r\n"
                 "AUTHORIZATION:  Bearer first \r\n"
                 "content-LENGTH:3\r\n"
                 "X-Other: 1\r\n"
                 "Authorization:\tBearer AbC\t\r\n"
                 "Content-Length: 12",
                 r);
    EXPECT_EQ(r.requestLine, "POST /mcp HTTP/1.1");
    EXPECT_EQ(r.contentLength, 12);
    EXPECT_EQ(r.authorization, "Bearer AbC") << "trimmed, letter case kept";

    Request broken;
    parseHeaders("POST / HTTP/1.1\r\nAuthorization: Bearer \xff\xfe\r\nContent-Length: 4", broken);
    EXPECT_TRUE(broken.requestLine.isEmpty()) << "bytes that are not UTF-8 count as no headers";
    EXPECT_TRUE(broken.authorization.isEmpty());
    EXPECT_EQ(broken.contentLength, 0);
}

TEST(McpHttp, ARequestIsWholeOnlyWithItsBody)
{
    const QByteArray request = "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n{\"id\":1}  ";
    // Fed one byte at a time, it completes exactly at the last byte.
    RequestReader reader;
    for (qsizetype i = 0; i < request.size(); ++i) {
        const State s = reader.feed(request.mid(i, 1));
        ASSERT_EQ(s, i + 1 == request.size() ? State::Complete : State::NeedMore) << "at byte " << i;
    }
    EXPECT_EQ(reader.request().body, "{\"id\":1}  ");

    // Bytes past Content-Length stay part of the body.
    RequestReader longer;
    EXPECT_EQ(longer.feed("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}xyz"), State::Complete);
    EXPECT_EQ(longer.request().body, "{}xyz");

    // Lines ended by a bare line feed never end the header block.
    RequestReader bare;
    EXPECT_EQ(bare.feed("POST / HTTP/1.1\nContent-Length: 0\n\n"), State::NeedMore);
}

TEST(McpHttp, OversizedRequestsAreRefused)
{
    const QByteArray line = "X-Pad: " + QByteArray(1000, 'a') + "\r\n";
    QByteArray headers = "POST / HTTP/1.1\r\n";
    while (headers.size() < kHeaderCap)
        headers += line;

    RequestReader endless; // no blank line within the cap
    EXPECT_EQ(endless.feed(headers), State::TooLarge);

    RequestReader late; // the blank line comes, but past the cap
    EXPECT_EQ(late.feed(headers + "\r\n"), State::TooLarge);

    RequestReader atCap; // a header block of exactly the cap is fine
    QByteArray exact = "POST / HTTP/1.1\r\nX-Pad: ";
    exact += QByteArray(kHeaderCap - exact.size(), 'b');
    ASSERT_EQ(exact.size(), kHeaderCap);
    EXPECT_EQ(atCap.feed(exact + "\r\n\r\n"), State::Complete);

    RequestReader huge; // refused on the headers alone, before any body
    EXPECT_EQ(huge.feed("POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(kBodyCap + 1) + "\r\n\r\n"),
              State::TooLarge);
    RequestReader largest;
    EXPECT_EQ(largest.feed("POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(kBodyCap) + "\r\n\r\n"),
              State::NeedMore);
}

TEST(McpHttp, OnlyTheExactBearerValueIsAuthorized)
{
    const QByteArray expected = "Bearer 0123456789ABCDEF0123456789ABCDEF";
    const struct {
        const char *value;
        bool ok;
    } cases[] = {
        {"Bearer 0123456789ABCDEF0123456789ABCDEF", true},
        {"bearer 0123456789ABCDEF0123456789ABCDEF", false},
        {"BEARER 0123456789ABCDEF0123456789ABCDEF", false},
        {"Bearer 0123456789abcdef0123456789abcdef", false},
        {"Bearer  0123456789ABCDEF0123456789ABCDEF", false},
        {"Bearer 0123456789ABCDEF0123456789ABCDEE", false},
        {"Bearer 0123456789ABCDEF0123456789ABCDEF0", false},
        {"0123456789ABCDEF0123456789ABCDEF", false},
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(authorized(QString::fromLatin1(c.value), expected), c.ok) << c.value;
}

TEST(McpHttp, EveryReplyCarriesTheSameHeaders)
{
    const QByteArray fixed = "Access-Control-Allow-Origin: *\r\n"
                             "Access-Control-Allow-Headers: Content-Type, Authorization, Mcp-Session-Id, "
                             "Mcp-Protocol-Version\r\n"
                             "Access-Control-Allow-Methods: POST, OPTIONS, DELETE\r\n"
                             "Mcp-Session-Id: velto-browser\r\n"
                             "Content-Type: application/json\r\n";
    EXPECT_EQ(reply("204 No Content", std::nullopt),
              "HTTP/1.1 204 No Content\r\n" + fixed + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply("200 OK", QJsonObject{{"id", 7}, {"text", QString::fromUtf8("₹ 1")}}),
              "HTTP/1.1 200 OK\r\n" + fixed + "Content-Length: 23\r\nConnection: close\r\n\r\n" +
                  QByteArray("{\"id\":7,\"text\":\"\xe2\x82\xb9 1\"}"));
    // A body serialised beforehand goes out as it is.
    EXPECT_EQ(reply("200 OK", Body::serialised("{\"a\":[1]}")),
              "HTTP/1.1 200 OK\r\n" + fixed + "Content-Length: 9\r\nConnection: close\r\n\r\n{\"a\":[1]}");
}

} // namespace
