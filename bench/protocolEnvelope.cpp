// One request envelope through decode, validate and encode, as the session handles each frame.
#include <benchmark/benchmark.h>

#include "protocol/Envelope.h"

namespace {

// A typical request of about 120 bytes.
constexpr std::string_view request =
    R"({"v":1,"t":"req","id":"4f1c2a","m":"input.pointer.move","p":{"dx":12.5,"dy":-3,"buttons":["left"],"smooth":true}})";

void envelopeRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        kx::Envelope envelope = kx::Envelope::decode(request);
        envelope.validate();
        std::string text = envelope.encode();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetLabel(std::to_string(request.size()) + " bytes");
}

}  // namespace

BENCHMARK(envelopeRoundTrip);
