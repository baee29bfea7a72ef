// Frame reassembly from arbitrary chunks, against the reference steps and beyond.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/SecureChannel.h"

using namespace kx;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;

TEST(FramingVectors, ReferenceSteps) {
    const json vectors = kx::test::loadVectors("framing.json");
    for (const json& c : vectors.at("cases")) {
        const std::string name = c.at("name").get<std::string>();
        FrameAccumulator accumulator(c.at("max_frame").get<std::uint32_t>());
        for (const json& step : c.at("steps")) {
            accumulator.append(fromHex(step.at("append_hex").get<std::string>()));
            if (step.contains("error")) {
                try {
                    accumulator.drain();
                    ADD_FAILURE() << name << ": no failure";
                } catch (const FrameAccumulator::Failure& f) {
                    EXPECT_EQ(f.declaredLength, step.at("length").get<std::uint32_t>()) << name;
                }
                // The accumulator keeps no error state: the same prefix fails again.
                EXPECT_THROW(accumulator.drain(), FrameAccumulator::Failure) << name;
            } else {
                std::vector<std::string> bodies;
                for (const Bytes& body : accumulator.drain()) bodies.push_back(toHex(body));
                EXPECT_EQ(bodies, step.at("frames_hex").get<std::vector<std::string>>()) << name;
            }
            EXPECT_EQ(accumulator.bufferedByteCount(), step.at("buffered").get<std::size_t>()) << name;
        }
    }
}

TEST(Framing, ManyFramesInOddChunksComeOutWholeAndInOrder) {
    Bytes stream;
    std::vector<Bytes> sent;
    for (std::size_t i = 0; i < 300; ++i) {
        Bytes body(i * 7 % 521, static_cast<std::uint8_t>(i));
        const Bytes framed = FrameAccumulator::frame(body);
        stream.insert(stream.end(), framed.begin(), framed.end());
        sent.push_back(std::move(body));
    }
    FrameAccumulator accumulator(SecureChannel::maxFrame);
    std::vector<Bytes> received;
    for (std::size_t offset = 0, chunk = 1; offset < stream.size(); offset += chunk, chunk = chunk % 97 + 13) {
        const std::size_t length = std::min(chunk, stream.size() - offset);
        accumulator.append(ByteView(stream).subspan(offset, length));
        for (Bytes& body : accumulator.drain()) received.push_back(std::move(body));
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(accumulator.bufferedByteCount(), 0u);
}
