// A container's default entry is held once: read streams read it in place,
// and a copy written unchanged shares the original's bytes.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <string>

#include "refhost/container.h"

namespace refhost {
namespace {

// Bytes the process has allocated and not freed.
size_t bytesInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

SharedBytes document(size_t size) {
    std::string text(size, 'x');
    for (size_t i = 0; i < size; i += 97) text[i] = static_cast<char>('a' + i % 26);
    return std::make_shared<const std::string>(std::move(text));
}

TEST(SharedDocument, TwoStreamsReadTheSameBytesWithoutACopy) {
    const SharedBytes doc = document(size_t{8} << 20);
    Container c("InputPMML");
    c.setDefaultEntry(doc);
    CFContainerFile* r = c.record();
    CFStream* streams[2] = {};
    int err = 0;
    const size_t before = bytesInUse();
    for (CFStream*& s : streams) ASSERT_EQ(r->openEntry(r->handle, nullptr, CF_MODE_READ, "", &s, &err), 0u);
    // Interleaved, as two workers' copies are read.
    static char buffer[2][65536];
    size_t at = 0;
    bool same = true;
    for (size_t got[2] = {1, 1}; got[0] > 0;) {
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(streams[i]->readStream(streams[i]->handle, buffer[i], sizeof buffer[i], &got[i], &err), 0u);
        ASSERT_EQ(got[0], got[1]);
        same = same && std::memcmp(buffer[0], doc->data() + at, got[0]) == 0 &&
               std::memcmp(buffer[1], doc->data() + at, got[1]) == 0;
        at += got[0];
    }
    EXPECT_TRUE(same);
    EXPECT_EQ(at, doc->size());
    // Both streams are still open: a copy each would be held now.
    const size_t after = bytesInUse();
    EXPECT_LT(after > before ? after - before : 0, doc->size() / 64) << "the streams copied the document";
    for (CFStream* s : streams) EXPECT_EQ(s->closeStream(s->handle, &err), 0u);
}

// A default entry expecting a document, written in chunks: what it holds is
// always what was written, and it is the document itself only when the
// writes were exactly the document.
TEST(SharedDocument, CopyWrittenUnchangedSharesTheOriginal) {
    const SharedBytes doc = document(100000);
    const std::string& d = *doc;
    struct Case { const char* name; std::string written; size_t chunk; bool expectSet = true; };
    const Case cases[] = {
        {"the document in small chunks", d, 1023}, {"the document in one write", d, d.size()},
        {"differs in its last byte", d.substr(0, d.size() - 1) + "!", 1023},
        {"differs in the first chunk", "<" + d.substr(1), 1023},
        {"a prefix of the document", d.substr(0, 5000), 1023}, {"the document and more", d + "tail", 1023},
        {"nothing written", "", 1023}, {"the document, nothing expected", d, 1023, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Container copy("WorkerInputPMML");
        if (c.expectSet) copy.expectDefaultEntry(doc);
        CFContainerFile* r = copy.record();
        CFStream* s = nullptr;
        int err = 0;
        ASSERT_EQ(r->openEntry(r->handle, nullptr, CF_MODE_WRITE, "", &s, &err), 0u);
        for (size_t at = 0; at < c.written.size(); at += c.chunk)
            ASSERT_EQ(s->writeStream(s->handle, c.written.data() + at, std::min(c.chunk, c.written.size() - at), &err),
                      0u);
        EXPECT_EQ(copy.defaultText(), c.written) << "while written";
        ASSERT_EQ(s->closeStream(s->handle, &err), 0u);
        const SharedBytes held = copy.defaultBytes();
        ASSERT_TRUE(held);
        EXPECT_EQ(*held, c.written);
        EXPECT_EQ(held == doc, c.expectSet && c.written == d);
    }
}

}  // namespace
}  // namespace refhost
