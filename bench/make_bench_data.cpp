// Writes the benchmark data set: a CSV with columns grp,sub,x1..x5,y whose
// records come in groups, in order. Group k (0-based) has grp "g%04d" of k/10
// and sub k%10, so the pair (grp, sub) tells the groups apart and each field
// alone does not. y is a linear function of x1..x5 with coefficients that
// differ from group to group, plus noise. The output depends only on the
// arguments (fixed seed), and numbers are formatted by hand so that ten
// million records take a couple of seconds.
//
//   split_bench_data [--records N] [--groups G] [--seed S] [--out FILE]
//
// Without --out the CSV goes to standard output.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Options {
    uint64_t records = 10'000'000;
    uint64_t groups = 1'000;
    uint64_t seed = 20261205;
    std::string out;
};

// splitmix64: small, fast and good enough for benchmark data.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

class Writer {
public:
    explicit Writer(FILE* file) : file_(file) { buffer_.reserve(kFlushAt + 256); }

    void text(std::string_view s) { buffer_.append(s); }
    void ch(char c) { buffer_.push_back(c); }
    void integer(int64_t v) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        buffer_.append(digits, end);
    }
    // A real rounded to 6 decimals, always written with exactly 6.
    void fixed6(double v) {
        auto micros = static_cast<int64_t>(std::llround(v * 1e6));
        if (micros < 0) {
            ch('-');
            micros = -micros;
        }
        integer(micros / 1'000'000);
        ch('.');
        char frac[6];
        int64_t rest = micros % 1'000'000;
        for (int i = 5; i >= 0; --i) {
            frac[i] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        buffer_.append(frac, sizeof frac);
    }
    void endLine() {
        ch('\n');
        if (buffer_.size() >= kFlushAt) flush();
    }
    // Writes what is buffered; false when any write failed.
    bool finish() {
        flush();
        return ok_;
    }

private:
    void flush() {
        if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
            ok_ = false;
        buffer_.clear();
    }
    static constexpr size_t kFlushAt = 1 << 20;
    FILE* file_;
    std::string buffer_;
    bool ok_ = true;
};

bool parseCount(const char* text, uint64_t* value) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, *value);
    return ec == std::errc() && ptr == end;
}

int usage() {
    std::fprintf(stderr, "usage: split_bench_data [--records N] [--groups G] [--seed S] [--out FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--records") ok = parseCount(value, &options.records);
        else if (arg == "--groups") ok = parseCount(value, &options.groups);
        else if (arg == "--seed") ok = parseCount(value, &options.seed);
        else if (arg == "--out") options.out = value;
        else return usage();
        if (!ok) return usage();
    }
    if (options.groups == 0 || options.groups > options.records || options.groups > 100'000)
        return usage();

    FILE* file = options.out.empty() ? stdout : std::fopen(options.out.c_str(), "wb");
    if (file == nullptr) {
        std::perror(options.out.c_str());
        return 1;
    }
    bool ok = true;
    {
        Writer out(file);
        Random random{options.seed};
        out.text("grp,sub,x1,x2,x3,x4,x5,y\n");
        char grp[32];
        double coef[6] = {};
        uint64_t group = UINT64_MAX;
        for (uint64_t i = 0; i < options.records; ++i) {
            // Records spread evenly: group k holds records [k*N/G, (k+1)*N/G).
            const uint64_t k = static_cast<uint64_t>(
                (static_cast<unsigned __int128>(i) * options.groups) / options.records);
            if (k != group) {
                group = k;
                std::snprintf(grp, sizeof grp, "g%04llu", static_cast<unsigned long long>(k / 10));
                for (double& c : coef) c = 4.0 * random.uniform() - 2.0;
                coef[0] += static_cast<double>(k % 97);
            }
            const double x[5] = {10.0 * random.uniform(), 5.0 * random.uniform(), random.uniform(),
                                 100.0 * random.uniform(), random.uniform() - 0.5};
            double y = coef[0] + 0.5 * (random.uniform() - 0.5);
            for (int j = 0; j < 5; ++j) y += coef[j + 1] * x[j];
            out.text(std::string_view(grp, 5));
            out.ch(',');
            out.integer(static_cast<int64_t>(k % 10));
            for (double v : x) {
                out.ch(',');
                out.fixed6(v);
            }
            out.ch(',');
            out.fixed6(y);
            out.endLine();
        }
        ok = out.finish();
    }
    if (file != stdout && std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "split_bench_data: write failed\n");
        return 1;
    }
    return 0;
}
