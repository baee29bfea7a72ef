// Frames taken one at a time where they lie (FrameAccumulator::next), as the agent's sessions take them.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/SecureChannel.h"

using namespace kx;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;

namespace {

// Every body next() gives until it has none; the declared length when it throws instead.
std::vector<std::string> takeAll(FrameAccumulator& accumulator, std::optional<std::uint32_t>& failedLength) {
    std::vector<std::string> bodies;
    try {
        while (auto body = accumulator.next()) bodies.push_back(toHex(*body));
    } catch (const FrameAccumulator::Failure& failure) {
        failedLength = failure.declaredLength;
    }
    return bodies;
}

}  // namespace

TEST(FrameViews, ReferenceStepsGiveTheSameBodiesAndFailuresAsDraining) {
    const json vectors = kx::test::loadVectors("framing.json");
    for (const json& c : vectors.at("cases")) {
        const std::string name = c.at("name").get<std::string>();
        FrameAccumulator accumulator(c.at("max_frame").get<std::uint32_t>());
        for (const json& step : c.at("steps")) {
            accumulator.append(fromHex(step.at("append_hex").get<std::string>()));
            std::optional<std::uint32_t> failedLength;
            std::vector<std::string> bodies = takeAll(accumulator, failedLength);
            if (step.contains("error")) {
                EXPECT_EQ(failedLength, step.at("length").get<std::uint32_t>()) << name;
                // No error state: the same prefix fails again.
                EXPECT_THROW(accumulator.next(), FrameAccumulator::Failure) << name;
            } else {
                EXPECT_FALSE(failedLength) << name;
                EXPECT_EQ(bodies, step.at("frames_hex").get<std::vector<std::string>>()) << name;
                EXPECT_EQ(accumulator.bufferedByteCount(), step.at("buffered").get<std::size_t>()) << name;
            }
        }
    }
}

// Bodies stay readable until the next append, however the stream is cut.
TEST(FrameViews, BodiesComeOutWholeAndInOrderForEveryChunking) {
    Bytes stream;
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < 120; ++i) {
        Bytes body(i * 37 % 1500 + 1, static_cast<std::uint8_t>(i));
        const Bytes framed = FrameAccumulator::frame(body);
        stream.insert(stream.end(), framed.begin(), framed.end());
        sent.push_back(toHex(body));
    }
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{256}, std::size_t{4096}, stream.size()}) {
        FrameAccumulator accumulator(SecureChannel::maxFrame);
        std::vector<std::string> received;
        for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
            accumulator.append(ByteView(stream).subspan(offset, std::min(chunk, stream.size() - offset)));
            while (auto body = accumulator.next()) received.push_back(toHex(*body));
        }
        EXPECT_EQ(received, sent) << "chunks of " << chunk;
        EXPECT_EQ(accumulator.bufferedByteCount(), 0u) << "chunks of " << chunk;
    }
}
