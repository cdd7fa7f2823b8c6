// LZW throughput on 16 MiB of text-like and of random bytes, side by side with ncompress
// (compress -b12 / uncompress, the same 12-bit code limit) on the same bytes, and the noise
// generator's longest runs. Times are CPU time: the codec's own, and the child's user and
// system time for ncompress, so that a busy machine skews both sides alike.
#include "nvbytebuffer.h"
#include "nvnoisegenerator.h"
#include "xcodeclzw.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kCorpusSize = 16u << 20;

using Bytes = std::vector<unsigned char>;

// Words of skewed frequency, numbers and line breaks: compresses about like prose.
Bytes makeText()
{
    static const char* words[] = {
        "the", "of", "and", "to", "a", "in", "is", "it", "that", "for", "device", "firmware",
        "update", "version", "page", "write", "read", "driver", "kernel", "status", "unplug",
        "replug", "successful", "failed", "image", "buffer", "request", "vendor", "control",
        "window", "button", "progress", "thread", "worker", "message", "wait", "commit", "verify",
        "QM7", "Norvane", "audio", "interface", "channel", "sample", "rate", "clock", "source"};
    const size_t n = sizeof(words) / sizeof(*words);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Bytes out;
    out.reserve(kCorpusSize + 64);
    while (out.size() < kCorpusSize) {
        size_t i = static_cast<size_t>(n * u(rng) * u(rng));   // favours the first words
        const char* w = words[i];
        out.insert(out.end(), w, w + std::strlen(w));
        unsigned r = rng() % 20;
        if (r == 0) {
            std::string num = std::to_string(rng() % 10000);
            out.push_back(' ');
            out.insert(out.end(), num.begin(), num.end());
        }
        out.push_back(r == 1 ? '\n' : r == 2 ? ',' : ' ');
    }
    out.resize(kCorpusSize);
    return out;
}

Bytes makeRandom()
{
    std::mt19937 rng(11);
    Bytes out(kCorpusSize);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

const Bytes& corpus(int kind)
{
    static const Bytes text = makeText();
    static const Bytes random = makeRandom();
    return kind == 0 ? text : random;
}

Bytes encoded(int kind)
{
    XCodecLZW codec;
    Bytes in = corpus(kind);
    NVByteBuffer src(in.data(), in.size()), dst;
    codec.encode(src, dst);
    return Bytes(dst.getBuffer(), dst.getBuffer() + dst.getWritePos());
}

const char* kindName(int kind) { return kind == 0 ? "text" : "random"; }

void setCounters(benchmark::State& state, size_t packed)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCorpusSize));
    state.counters["ratio"] = static_cast<double>(packed) / kCorpusSize;
    state.SetLabel(kindName(static_cast<int>(state.range(0))));
}

void BM_LZWEncode(benchmark::State& state)
{
    Bytes in = corpus(static_cast<int>(state.range(0)));
    XCodecLZW codec;
    size_t packed = 0;
    for (auto _ : state) {
        NVByteBuffer src(in.data(), in.size()), dst;
        codec.encode(src, dst);
        packed = dst.getWritePos();
        benchmark::DoNotOptimize(dst.getBuffer());
    }
    setCounters(state, packed);
}

void BM_LZWDecode(benchmark::State& state)
{
    Bytes packed = encoded(static_cast<int>(state.range(0)));
    XCodecLZW codec;
    bool same = true;
    for (auto _ : state) {
        NVByteBuffer src(packed.data(), packed.size()), dst;
        codec.decode(src, dst);
        same = dst.getWritePos() == kCorpusSize;
        benchmark::DoNotOptimize(dst.getBuffer());
    }
    if (!same)
        state.SkipWithError("decode did not give the corpus back");
    setCounters(state, packed.size());
}

// The corpus and its compress -b12 output in a private temporary folder.
struct NcompressFiles {
    std::string dir, plain[2], packed[2];
    bool ok = false;
    NcompressFiles()
    {
        char tmpl[] = "/tmp/nvtools-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            return;
        dir = tmpl;
        ok = true;
        for (int kind = 0; kind < 2; ++kind) {
            plain[kind] = dir + "/" + kindName(kind);
            packed[kind] = plain[kind] + ".Z";
            std::ofstream(plain[kind], std::ios::binary)
                .write(reinterpret_cast<const char*>(corpus(kind).data()), static_cast<std::streamsize>(kCorpusSize));
            ok = ok && run("compress", "-b12", plain[kind], packed[kind]) >= 0;
        }
    }
    ~NcompressFiles()
    {
        for (int kind = 0; kind < 2; ++kind) {
            std::remove(plain[kind].c_str());
            std::remove(packed[kind].c_str());
        }
        if (!dir.empty())
            rmdir(dir.c_str());
    }
    // Runs tool with stdin and stdout redirected; the child's CPU seconds, or -1.
    static double run(const char* tool, const char* arg, const std::string& from, const std::string& to)
    {
        rusage before {}, after {};
        getrusage(RUSAGE_CHILDREN, &before);
        pid_t pid = fork();
        if (pid == 0) {
            int in = open(from.c_str(), O_RDONLY);
            int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
                _exit(127);
            execlp(tool, tool, arg, "-c", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        if (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 2)   // 2: the output grew
            return -1;
        getrusage(RUSAGE_CHILDREN, &after);
        auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
        return seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
               seconds(before.ru_stime);
    }
    size_t packedSize(int kind) const
    {
        struct stat st {};
        return stat(packed[kind].c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    }
};

NcompressFiles& ncompress()
{
    static NcompressFiles files;
    return files;
}

// One run of compress -b12 on the corpus (packed false) or of uncompress on its output.
void runNcompress(benchmark::State& state, bool packed)
{
    int kind = static_cast<int>(state.range(0));
    NcompressFiles& f = ncompress();
    if (!f.ok) {
        state.SkipWithError("ncompress is not available");
        return;
    }
    for (auto _ : state) {
        double t = packed ? NcompressFiles::run("uncompress", "-f", f.packed[kind], "/dev/null")
                          : NcompressFiles::run("compress", "-b12", f.plain[kind], "/dev/null");
        if (t < 0) {
            state.SkipWithError("ncompress failed");
            return;
        }
        state.SetIterationTime(t);
    }
    setCounters(state, f.packedSize(kind));
}

void BM_NcompressEncode(benchmark::State& state) { runNcompress(state, false); }
void BM_NcompressDecode(benchmark::State& state) { runNcompress(state, true); }

// No 16-bit target is absent from the sequence (0x4CFB is the last to show up, after
// 924181 steps), so the full 16777215-step walk is measured through getValueAfterLoops.
void BM_NoiseFullPeriod(benchmark::State& state)
{
    NVNoiseGenerator g;
    for (auto _ : state)
        benchmark::DoNotOptimize(g.getValueAfterLoops(0xFFFFFF));
}

void BM_NoiseCountUntilLatest(benchmark::State& state)
{
    NVNoiseGenerator g;
    for (auto _ : state)
        benchmark::DoNotOptimize(g.getCountUntil(0x4CFB));
}

} // namespace

BENCHMARK(BM_LZWEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NcompressEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_LZWDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NcompressDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_NoiseFullPeriod)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoiseCountUntilLatest)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
