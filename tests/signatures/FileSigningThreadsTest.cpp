// The pieces that let the files of a package be signed on several threads
// in flat memory: the ordered work pool (every result handed back once, in
// order, with a bounded number in flight) and the encoder that writes the
// file-signature lists as their DER, byte for byte what OpenSSL writes.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include <torvel/Asn1Structures.h>

#include "SignatureFixtures.h"
#include "cms/Asn1Internal.h"
#include "common/OpenSslHandles.h"
#include "TorvelHandles.h"
#include "filesignatures/FileSignaturesEncoder.h"
#include "filesignatures/OrderedWork.h"

using PackageSignatures::FileSignaturesEncoder;
using PackageSignatures::OrderedWork;
using SignatureFixtures::Bytes;
using TestKit::threadsOfThisProcess;

namespace {

// What i2d_FileSignatures writes for the same entries.
Bytes opensslDer(long version, const std::vector<std::pair<long, Bytes>>& entries)
{
    const Common::Torvel::FileSignaturesHandle list(FileSignatures_new());
    EXPECT_EQ(ASN1_INTEGER_set(list->version, version), 1);
    for (const auto& [index, value] : entries) {
        Common::Torvel::FileSignatureHandle entry(FileSignature_new());
        EXPECT_EQ(ASN1_INTEGER_set(entry->index, index), 1);
        EXPECT_EQ(ASN1_OCTET_STRING_set(entry->value, value.data(), int(value.size())), 1);
        EXPECT_GT(sk_FileSignature_push(list->signatures, entry.release()), 0);
    }
    unsigned char* der = nullptr;
    const int length = i2d_FileSignatures(list.get(), &der);
    const Common::OpenSsl::BytesHandle owned(der);
    return length > 0 ? Bytes(der, der + length) : Bytes();
}

Bytes encoded(FileSignaturesEncoder& encoder)
{
    size_t length = 0;
    const Common::OpenSsl::BytesHandle der(encoder.release(length));
    return der ? Bytes(der.get(), der.get() + length) : Bytes {0xBA, 0xD0};
}

} // namespace

TEST(FileSignaturesEncoder, WritesWhatOpenSslWrites)
{
    struct Case {
        const char* name;
        long version;
        std::vector<std::pair<long, Bytes>> entries;
        bool expectRoom; // the hint to take room at once, as signing gives it
    };
    std::vector<std::pair<long, Bytes>> many;
    for (long index = 0; index < 3000; ++index)
        many.emplace_back(index * 7, Bytes(265, uint8_t(index)));
    std::vector<std::pair<long, Bytes>> lengths;
    for (const size_t length : {0, 1, 127, 128, 255, 256, 1015, 65535, 65536, 70000})
        lengths.emplace_back(long(length), Bytes(length, 0x5A));
    std::vector<std::pair<long, Bytes>> indexes;
    for (const long index : {0L, 1L, 127L, 128L, 255L, 256L, 32767L, 32768L, 65535L, 65536L, 8388607L, 8388608L,
                             2147483647L, 2147483648L, -1L, -128L, -129L, -32768L, -32769L})
        indexes.emplace_back(index, Bytes {0x03, 0x02});
    for (const Case& c : {Case {"empty", 1, {}, false}, Case {"one", 1, {{0, {1, 2, 3}}}, false},
                          Case {"value lengths", 1, lengths, false}, Case {"indexes", 1, indexes, false},
                          Case {"other version", 300, {{5, {9}}}, false}, Case {"many, grown", 1, many, false},
                          Case {"many, room taken at once", 1, many, true},
                          Case {"room too small", 1, many, true}}) {
        SCOPED_TRACE(c.name);
        FileSignaturesEncoder encoder(c.version);
        for (const auto& [index, value] : c.entries) {
            if (c.expectRoom && encoder.count() == 0)
                encoder.expect(std::string(c.name) == "room too small" ? 10 : c.entries.size(), value.size());
            ASSERT_TRUE(encoder.add(index, value.data(), value.size()));
        }
        EXPECT_EQ(encoder.count(), c.entries.size());
        const Bytes expected = opensslDer(c.version, c.entries);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(encoded(encoder), expected);
        // Released, the encoder starts again from an empty list.
        EXPECT_EQ(encoder.count(), 0u);
        EXPECT_EQ(encoded(encoder), opensslDer(c.version, {}));
    }
}

TEST(FileSignaturesEncoder, AHintThatCannotBeMetChangesNothing)
{
    FileSignaturesEncoder encoder(1);
    ASSERT_TRUE(encoder.add(3, Bytes {1, 2}.data(), 2));
    encoder.expect(size_t(1) << 60, 300);
    ASSERT_TRUE(encoder.add(4, Bytes {3}.data(), 1));
    EXPECT_EQ(encoded(encoder), opensslDer(1, {{3, {1, 2}}, {4, {3}}}));
}

TEST(OrderedWork, HandsBackEveryResultOnceInOrder)
{
    struct Case {
        size_t threads;
        size_t window;
        size_t items;
        size_t failingItem; // items when none fails
    };
    for (const Case& c : {Case {1, 4, 50, 50}, Case {2, 1, 50, 50}, Case {2, 8, 500, 500}, Case {3, 4, 0, 0},
                          Case {3, 4, 1, 1}, Case {8, 16, 300, 300}, Case {1, 4, 50, 20}, Case {3, 6, 300, 120},
                          Case {2, 4, 10, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.threads << " threads, window " << c.window << ", " << c.items
                                          << " items, failing " << c.failingItem);
        const size_t threadsBefore = threadsOfThisProcess();
        std::mutex mutex;
        std::set<std::thread::id> workers;
        std::atomic<size_t> inFlight {0};
        std::atomic<size_t> mostInFlight {0};
        std::atomic<size_t> threadsEnded {0};
        std::vector<size_t> delivered;
        std::vector<size_t> failed;
        bool submitRefused = false;
        {
            OrderedWork<size_t, size_t> work(
                c.threads, c.window,
                [&] {
                    // Each thread's own state, as a signing context would be.
                    auto random = std::make_shared<std::mt19937>(unsigned(std::hash<std::thread::id>()(
                        std::this_thread::get_id())));
                    return [&, random](const size_t& item) -> std::optional<size_t> {
                        {
                            const std::lock_guard<std::mutex> lock(mutex);
                            workers.insert(std::this_thread::get_id());
                        }
                        std::this_thread::sleep_for(std::chrono::microseconds((*random)() % 300));
                        if (item == c.failingItem)
                            return std::nullopt;
                        return item * item;
                    };
                },
                [&](const size_t& item, std::optional<size_t>& result) {
                    inFlight.fetch_sub(1);
                    if (!result) {
                        failed.push_back(item);
                        return false;
                    }
                    EXPECT_EQ(*result, item * item);
                    delivered.push_back(item);
                    return true;
                },
                [&] { threadsEnded.fetch_add(1); });
            EXPECT_EQ(work.threads(), c.threads >= 2 ? c.threads : 0u);
            for (size_t item = 0; item < c.items; ++item) {
                const size_t now = inFlight.fetch_add(1) + 1;
                mostInFlight.store(std::max(mostInFlight.load(), now));
                if (!work.submit(item)) {
                    inFlight.fetch_sub(1);
                    submitRefused = true;
                    break;
                }
            }
            EXPECT_EQ(work.finish(), c.failingItem >= c.items);
            EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
            EXPECT_EQ(threadsEnded.load(), c.threads >= 2 ? c.threads : 0u);
        }
        // Handed back in order; after a failure nothing more.
        const size_t expectedCount = std::min(c.items, c.failingItem);
        ASSERT_EQ(delivered.size(), expectedCount);
        for (size_t i = 0; i < delivered.size(); ++i)
            EXPECT_EQ(delivered[i], i);
        EXPECT_EQ(failed, c.failingItem < c.items ? std::vector<size_t> {c.failingItem} : std::vector<size_t> {});
        if (c.failingItem + c.window + 1 < c.items) {
            EXPECT_TRUE(submitRefused);
        }
        // The window holds one item more while the next one waits to go in.
        EXPECT_LE(mostInFlight.load(), c.window + 1);
        if (c.threads < 2)
            EXPECT_EQ(workers, (std::set<std::thread::id> {std::this_thread::get_id()}));
        else
            EXPECT_EQ(workers.count(std::this_thread::get_id()), 0u);
    }
}
