// Pieces shared by the hostile XML tests: a thread with a small stack (a walk
// that recurses once per level of a 100,000-deep document overflows it),
// deeply nested texts, and the depth of a parsed nest.
#ifndef SPLIT_TESTS_COMMON_SMALL_STACK_H
#define SPLIT_TESTS_COMMON_SMALL_STACK_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "cf_cpp_helper.h"

namespace smallstack {

// Huge texts are kept smaller under ThreadSanitizer, which checks every byte
// of every copy; nothing in these tests runs on two threads at once.
#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderTsan = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kUnderTsan = true;
#else
constexpr bool kUnderTsan = false;
#endif
#else
constexpr bool kUnderTsan = false;
#endif

constexpr size_t kDeep = 100000;

// Runs work on a thread with a 512 KiB stack.
inline void OnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 512 * 1024), 0);
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// depth nested <n> elements around inner.
inline std::string Nested(size_t depth, const std::string& inner = "") {
    std::string text;
    text.reserve(depth * 7 + inner.size());
    for (size_t i = 0; i < depth; ++i) text += "<n>";
    text += inner;
    for (size_t i = 0; i < depth; ++i) text += "</n>";
    return text;
}

// Levels below element, following first children.
inline size_t DepthBelow(const CfCppHelperV1::XMLElement& element) {
    size_t depth = 0;
    for (auto at = element.getElementsDirect("").next(); !at.isEmpty(); at = at.getElementsDirect("").next())
        ++depth;
    return depth;
}

}  // namespace smallstack

#endif
