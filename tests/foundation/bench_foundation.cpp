#include "foundation/Base64.h"
#include "foundation/EncryptFile.h"

#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

// Base64 and RC4 against OpenSSL on the same buffers. Sizes: 20 KB (a
// certificate blob in a message) and 1 MB. A summary of speed ratios (ours
// over OpenSSL's, above 1 = faster) is printed at the end.
namespace {
std::vector<unsigned char> randomBytes(std::size_t n)
{
    std::mt19937 rng(42);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

std::string opensslText(const std::vector<unsigned char>& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

void BM_Base64Encode(benchmark::State& state)
{
    const auto bytes = randomBytes(static_cast<std::size_t>(state.range(0)));
    CBase64 codec;
    for (auto _ : state) {
        codec.Encode(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        benchmark::DoNotOptimize(codec.GetTextAscii());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSslEncodeBlock(benchmark::State& state)
{
    const auto bytes = randomBytes(static_cast<std::size_t>(state.range(0)));
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(out.data(), bytes.data(), static_cast<int>(bytes.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Decode(benchmark::State& state)
{
    const std::string text = opensslText(randomBytes(static_cast<std::size_t>(state.range(0))));
    CBase64 codec;
    std::uint32_t n = 0;
    for (auto _ : state) {
        codec.DecodeAscii(text.data(), static_cast<std::uint32_t>(text.size()), n);
        benchmark::DoNotOptimize(codec.GetBytes());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The wide-text entry point used by the XML reader (one more pass to narrow).
void BM_Base64DecodeWide(benchmark::State& state)
{
    const std::string text = opensslText(randomBytes(static_cast<std::size_t>(state.range(0))));
    const QString wide = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    CBase64 codec;
    std::uint32_t n = 0;
    for (auto _ : state) {
        codec.Decode(wide, n);
        benchmark::DoNotOptimize(codec.GetBytes());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSslDecodeBlock(benchmark::State& state)
{
    const std::string text = opensslText(randomBytes(static_cast<std::size_t>(state.range(0))));
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

const unsigned char kKey[] = {'q', 0, 'z', 0};

void BM_Rc4(benchmark::State& state)
{
    auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        // A fresh keystream per call, as every container operation makes one.
        CRc4 rc4(kKey, sizeof kKey);
        rc4.Apply(data.data(), data.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSslRc4(benchmark::State& state)
{
    // RC4 lives in the legacy provider, which needs the default one beside it.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
    if (!legacy || !deflt || !cipher) {
        state.SkipWithError("OpenSSL RC4 is not available");
        return;
    }
    auto data = randomBytes(static_cast<std::size_t>(state.range(0)));
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int outl = 0;
        EVP_CIPHER_CTX_reset(ctx);
        EVP_EncryptInit_ex2(ctx, cipher, nullptr, nullptr, nullptr);
        EVP_CIPHER_CTX_set_key_length(ctx, sizeof kKey);
        EVP_EncryptInit_ex2(ctx, nullptr, kKey, nullptr, nullptr);
        EVP_EncryptUpdate(ctx, data.data(), &outl, data.data(), static_cast<int>(data.size()));
        benchmark::ClobberMemory();
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr int k20K = 20 * 1024;
constexpr int k1M = 1024 * 1024;
} // namespace

BENCHMARK(BM_Base64Encode)->Arg(k20K)->Arg(k1M);
BENCHMARK(BM_OpenSslEncodeBlock)->Arg(k20K)->Arg(k1M);
BENCHMARK(BM_Base64Decode)->Arg(k20K)->Arg(k1M);
BENCHMARK(BM_Base64DecodeWide)->Arg(k20K)->Arg(k1M);
BENCHMARK(BM_OpenSslDecodeBlock)->Arg(k20K)->Arg(k1M);
BENCHMARK(BM_Rc4)->Arg(k1M);
BENCHMARK(BM_OpenSslRc4)->Arg(k1M);

namespace {
// Remembers the time per iteration of every run for the summary.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> perIteration;
    std::map<std::string, bool> fromMedian;
    // With --benchmark_repetitions the median is used, else the single run. CPU
    // time, not wall time: the figures stay comparable on a busy machine.
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.error_occurred)
                continue;
            const std::string key = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                perIteration[key] = r.GetAdjustedCPUTime();
                fromMedian[key] = true;
            } else if (r.run_type == Run::RT_Iteration && !fromMedian[key]) {
                perIteration[key] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void ratio(const char* label, const std::string& ours, const std::string& theirs,
               double goal) const
    {
        const auto a = perIteration.find(ours), b = perIteration.find(theirs);
        if (a == perIteration.end() || b == perIteration.end())
            return;
        const double r = b->second / a->second;
        std::printf("%-28s %6.2fx OpenSSL's speed (goal >= %.1f): %s\n", label, r, goal,
                    r >= goal ? "met" : "NOT met");
    }
};
} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSummary (ours / OpenSSL, by CPU time per call):\n");
    for (const char* size : {"20480", "1048576"}) {
        const std::string s = size;
        reporter.ratio(("Base64 encode " + s).c_str(), "BM_Base64Encode/" + s,
                       "BM_OpenSslEncodeBlock/" + s, 1.0);
        reporter.ratio(("Base64 decode " + s).c_str(), "BM_Base64Decode/" + s,
                       "BM_OpenSslDecodeBlock/" + s, 1.0);
        reporter.ratio(("Base64 decode wide " + s).c_str(), "BM_Base64DecodeWide/" + s,
                       "BM_OpenSslDecodeBlock/" + s, 1.0);
    }
    reporter.ratio("RC4 1048576", "BM_Rc4/1048576", "BM_OpenSslRc4/1048576", 0.7);
    benchmark::Shutdown();
    return 0;
}
