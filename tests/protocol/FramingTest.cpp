// Frame reassembly from arbitrary chunks, against the reference steps and beyond, both as the
// client takes frames (drain: copies, all at once) and as the agent's sessions do (next: one at a
// time, where they lie).
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/SecureChannel.h"

using namespace kx;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;

namespace {

using Take = std::vector<std::string> (*)(FrameAccumulator&);

std::vector<std::string> drainAll(FrameAccumulator& accumulator) {
    std::vector<std::string> bodies;
    for (const Bytes& body : accumulator.drain()) bodies.push_back(toHex(body));
    return bodies;
}

std::vector<std::string> takeEach(FrameAccumulator& accumulator) {
    std::vector<std::string> bodies;
    while (auto body = accumulator.next()) bodies.push_back(toHex(*body));
    return bodies;
}

const std::vector<std::pair<std::string, Take>> ways = {{"drain", drainAll}, {"next", takeEach}};

}  // namespace

TEST(FramingVectors, ReferenceSteps) {
    const json vectors = kx::test::loadVectors("framing.json");
    for (const auto& [way, take] : ways) {
        for (const json& c : vectors.at("cases")) {
            const std::string name = way + ": " + c.at("name").get<std::string>();
            FrameAccumulator accumulator(c.at("max_frame").get<std::uint32_t>());
            for (const json& step : c.at("steps")) {
                accumulator.append(fromHex(step.at("append_hex").get<std::string>()));
                if (step.contains("error")) {
                    try {
                        take(accumulator);
                        ADD_FAILURE() << name << ": no failure";
                    } catch (const FrameAccumulator::Failure& f) {
                        EXPECT_EQ(f.declaredLength, step.at("length").get<std::uint32_t>()) << name;
                    }
                    // The accumulator keeps no error state: the same prefix fails again.
                    EXPECT_THROW(take(accumulator), FrameAccumulator::Failure) << name;
                } else {
                    EXPECT_EQ(take(accumulator), step.at("frames_hex").get<std::vector<std::string>>()) << name;
                }
                EXPECT_EQ(accumulator.bufferedByteCount(), step.at("buffered").get<std::size_t>()) << name;
            }
        }
    }
}

// Bodies come out whole and in order however the stream is cut (next's stay readable until the
// next append).
TEST(Framing, ManyFramesInOddChunksComeOutWholeAndInOrder) {
    Bytes stream;
    std::vector<std::string> sent;
    for (std::size_t i = 0; i < 300; ++i) {
        Bytes body(i * 37 % 1500, static_cast<std::uint8_t>(i));
        const Bytes framed = FrameAccumulator::frame(body);
        stream.insert(stream.end(), framed.begin(), framed.end());
        sent.push_back(toHex(body));
    }
    for (const auto& [way, take] : ways) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{256}, std::size_t{4096}, stream.size()}) {
            FrameAccumulator accumulator(SecureChannel::maxFrame);
            std::vector<std::string> received;
            for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
                accumulator.append(ByteView(stream).subspan(offset, std::min(chunk, stream.size() - offset)));
                for (std::string& body : take(accumulator)) received.push_back(std::move(body));
            }
            EXPECT_EQ(received, sent) << way << ", chunks of " << chunk;
            EXPECT_EQ(accumulator.bufferedByteCount(), 0u) << way << ", chunks of " << chunk;
        }
    }
}
