// The compiled random streams against the reference draws of
// tests/oracles/random_streams.txt, the table the Python reference is checked against too.

#include "mcmc/random_streams.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct StreamReference {
    std::uint64_t seed = 0;
    std::vector<std::uint64_t> raw;
    std::vector<double> uniforms;
    std::vector<double> normals;  // fresh source on a fresh stream, mu 0, sigma 1
};

struct SingleOutput {
    std::uint64_t seed;
    unsigned long long index;
    std::uint64_t value;
};

struct NormalsAt {
    std::uint64_t seed;
    int index;
    std::vector<double> values;
};

struct StreamTable {
    std::vector<SingleOutput> outputs;
    std::vector<StreamReference> streams;  // in the order of the file
    std::vector<NormalsAt> normals_at;
};

std::uint64_t to_u64(const std::string& text) { return std::stoull(text, nullptr, 10); }

// strtod reads the exact hexadecimal doubles of the table.
double to_double(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

StreamTable load_table() {
    std::ifstream in(VEXA_RANDOM_STREAMS_TABLE);
    if (!in) throw std::runtime_error("cannot open " VEXA_RANDOM_STREAMS_TABLE);
    StreamTable table;
    std::map<std::uint64_t, std::size_t> position;
    auto stream_for = [&](std::uint64_t seed) -> StreamReference& {
        const auto found = position.find(seed);
        if (found != position.end()) return table.streams[found->second];
        position[seed] = table.streams.size();
        table.streams.push_back(StreamReference{seed, {}, {}, {}});
        return table.streams.back();
    };
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string kind, seed_text, value;
        fields >> kind >> seed_text;
        const std::uint64_t seed = to_u64(seed_text);
        if (kind == "output") {
            std::string index, output;
            fields >> index >> output;
            table.outputs.push_back({seed, std::stoull(index), to_u64(output)});
        } else if (kind == "raw") {
            while (fields >> value) stream_for(seed).raw.push_back(to_u64(value));
        } else if (kind == "uniform") {
            while (fields >> value) stream_for(seed).uniforms.push_back(to_double(value));
        } else if (kind == "normal") {
            while (fields >> value) stream_for(seed).normals.push_back(to_double(value));
        } else if (kind == "normal-at") {
            std::string index;
            fields >> index;
            NormalsAt record{seed, std::stoi(index), {}};
            while (fields >> value) record.values.push_back(to_double(value));
            table.normals_at.push_back(record);
        } else {
            throw std::runtime_error("unknown record " + kind);
        }
    }
    return table;
}

const StreamTable& table() {
    static const StreamTable loaded = load_table();
    return loaded;
}

void PrintTo(const StreamReference& r, std::ostream* os) { *os << "seed " << r.seed; }

TEST(RandomStreams, TableIsComplete) {
    EXPECT_FALSE(table().outputs.empty());
    EXPECT_FALSE(table().normals_at.empty());
    ASSERT_FALSE(table().streams.empty());
    for (const StreamReference& r : table().streams) {
        EXPECT_FALSE(r.raw.empty()) << r.seed;
        EXPECT_FALSE(r.uniforms.empty()) << r.seed;
        EXPECT_FALSE(r.normals.empty()) << r.seed;
    }
}

TEST(RandomStreams, SingleOutputsOnEveryPath) {
    // Outputs past the first block check each path's regenerated state.
    for (vexa::SimdPath path :
         {vexa::SimdPath::baseline, vexa::SimdPath::avx2, vexa::SimdPath::avx512}) {
        if (!vexa::simd_path_supported(path)) continue;
        for (const SingleOutput& o : table().outputs) {
            vexa::RandomStream engine(o.seed, path);
            engine.discard(o.index);
            EXPECT_EQ(engine(), o.value)
                << vexa::simd_path_name(path) << " seed " << o.seed << " output " << o.index;
        }
    }
}

class StreamDraws : public ::testing::TestWithParam<StreamReference> {};

TEST_P(StreamDraws, RawUniformAndNormalDrawsMatchToTheBit) {
    const StreamReference& ref = GetParam();
    vexa::RandomStream raw(ref.seed);
    for (std::uint64_t expected : ref.raw) EXPECT_EQ(raw(), expected);

    vexa::RandomStream uniforms(ref.seed);
    for (double expected : ref.uniforms) EXPECT_EQ(vexa::uniform_draw(uniforms), expected);

    vexa::RandomStream normals(ref.seed);
    vexa::NormalSource source;
    for (double expected : ref.normals) EXPECT_EQ(source.draw(normals, 0.0, 1.0), expected);

    // Both members of a pair are scaled as z * sigma + mu, the cached one included.
    vexa::RandomStream scaled(ref.seed);
    vexa::NormalSource scaled_source;
    for (double expected : ref.normals)
        EXPECT_EQ(scaled_source.draw(scaled, 1.5, -2.0), expected * -2.0 + 1.5);
}

INSTANTIATE_TEST_SUITE_P(Seeds, StreamDraws, ::testing::ValuesIn(table().streams),
                         [](const ::testing::TestParamInfo<StreamReference>& test) {
                             return "seed_" + std::to_string(test.param.seed);
                         });

TEST(RandomStreams, NormalsDeepIntoAStream) {
    // Includes a pair near the origin (s <= 1e-4) that the polar method rescales.
    for (const NormalsAt& r : table().normals_at) {
        vexa::RandomStream stream(r.seed);
        vexa::NormalSource source;
        for (int i = 0; i < r.index; ++i) source.draw(stream, 0.0, 1.0);
        for (double expected : r.values)
            EXPECT_EQ(source.draw(stream, 0.0, 1.0), expected) << "seed " << r.seed;
    }
}

TEST(RandomStreams, SeedsWrapModulo2To64) {
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(vexa::chain_stream_seed(42u, 0), 42u);
    EXPECT_EQ(vexa::chain_stream_seed(42u, 3), 3042u);
    EXPECT_EQ(vexa::chain_stream_seed(top, 1), 999u);
    EXPECT_EQ(vexa::deep_stream_seed(42u, 0), 7819u);
    EXPECT_EQ(vexa::deep_stream_seed(42u, 2), 7845u);
    EXPECT_EQ(vexa::deep_stream_seed(top, 0), 7776u);
    // Chain c + 1 of one seed is chain c of the seed 1000 higher.
    EXPECT_EQ(vexa::chain_stream_seed(5u, 4), vexa::chain_stream_seed(1005u, 3));
}

}  // namespace
