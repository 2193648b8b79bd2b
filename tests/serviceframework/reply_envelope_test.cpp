#include "serviceframework/reply_envelope.h"

#include <gtest/gtest.h>

TEST(ReplyEnvelope, ErrorAndSuccessBytes) {
  EXPECT_EQ(errorEnvelope(14, "Cannot open", "VarlumeEvent"),
            "<Varlume><ErrorCode>14</ErrorCode><ErrorReason>Cannot open</ErrorReason>"
            "<VarlumeEvent></VarlumeEvent></Varlume>");
  // A negative code is written as an empty element.
  EXPECT_EQ(errorEnvelope(-1, "Unrecognised request.", "VarlumeFile"),
            "<Varlume><ErrorCode></ErrorCode><ErrorReason>Unrecognised request.</ErrorReason>"
            "<VarlumeFile></VarlumeFile></Varlume>");
  EXPECT_EQ(successEnvelope("VarlumeFile"),
            "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason>"
            "<VarlumeFile></VarlumeFile></Varlume>");
  EXPECT_EQ(successEnvelope("VarlumeEvent", "<a>b</a>"),
            "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason>"
            "<VarlumeEvent><a>b</a></VarlumeEvent></Varlume>");
}

TEST(ReplyEnvelope, ReasonsAreEscapedAndPayloadsAreNot) {
  EXPECT_EQ(xmlEscape("a&b<c>d\"e'"), "a&amp;b&lt;c&gt;d\"e'");
  EXPECT_EQ(errorEnvelope(1, "x</ErrorReason><y>", "E"),
            "<Varlume><ErrorCode>1</ErrorCode><ErrorReason>x&lt;/ErrorReason&gt;&lt;y&gt;"
            "</ErrorReason><E></E></Varlume>");
}
