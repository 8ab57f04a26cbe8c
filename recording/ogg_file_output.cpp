#include "recording/ogg_file_output.h"

#include <array>
#include <cstring>

#include "stream/ogg_page.h"

namespace korvanel {
namespace {

constexpr std::size_t kGranuleOffset = 6;
constexpr std::size_t kSequenceOffset = 18;
constexpr std::size_t kChecksumOffset = 22;
constexpr std::size_t kHeaderTypeOffset = 5;

void putLittleEndian32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// Moves a page's granule position back by shift; a page that ends no
// packet (granule -1) keeps its mark.
void shiftGranule(char* page, std::int64_t shift) {
    std::uint64_t granule = 0;
    for (int i = 7; i >= 0; --i) {
        granule = (granule << 8) | static_cast<unsigned char>(page[kGranuleOffset + static_cast<std::size_t>(i)]);
    }
    const auto value = static_cast<std::int64_t>(granule);
    if (shift <= 0 || value < 0) {
        return;
    }
    const auto moved = static_cast<std::uint64_t>(value > shift ? value - shift : 0);
    for (int i = 0; i < 8; ++i) {
        page[kGranuleOffset + static_cast<std::size_t>(i)] = static_cast<char>((moved >> (8 * i)) & 0xFF);
    }
}

void resealPage(char* page, std::size_t length) {
    putLittleEndian32(page + kChecksumOffset, 0);
    putLittleEndian32(page + kChecksumOffset, oggPageChecksum(std::string_view(page, length)));
}

}  // namespace

bool OggFileOutput::create(const std::string& path) {
    close();
    nextSequence_ = 0;
    granuleShift_ = 0;
    lastPage_.clear();
    lastPageOffset_ = 0;
    return file_.create(path);
}

bool OggFileOutput::writePages(std::string_view pages) {
    if (!file_.isOpen()) {
        return false;
    }
    // Pages are renumbered in a copy, written in batches that end where a
    // unit ends, so a big buffer is not copied whole.
    constexpr std::size_t kBatchBytes = 256 * 1024;
    std::size_t offset = 0;
    OggPage page;
    scratch_.resize(0);
    std::size_t lastInBatch = 0;
    const auto flush = [&]() {
        if (scratch_.size() == 0) {
            return true;
        }
        const std::uint64_t startOfWrite = file_.size();
        if (!file_.write(scratch_.view())) {
            file_.close();
            return false;
        }
        lastPageOffset_ = startOfWrite + lastInBatch;
        lastPage_.resize(0);
        lastPage_.append(scratch_.data() + lastInBatch, scratch_.size() - lastInBatch);
        scratch_.resize(0);
        return true;
    };
    while (offset < pages.size() && parseOggPage(pages, offset, page) == OggPageStatus::Page) {
        if (!page.continued() && scratch_.size() >= kBatchBytes && !flush()) {
            return false;
        }
        lastInBatch = scratch_.size();
        if (!scratch_.append(pages.data() + offset, page.pageBytes)) {
            file_.close();
            return false;
        }
        char* copy = scratch_.data() + lastInBatch;
        putLittleEndian32(copy + kSequenceOffset, nextSequence_++);
        shiftGranule(copy, granuleShift_);
        resealPage(copy, page.pageBytes);
        offset += page.pageBytes;
    }
    return flush();
}

bool OggFileOutput::close() {
    if (!file_.isOpen()) {
        return true;
    }
    bool marked = true;
    if (lastPage_.size() > kChecksumOffset + 4 &&
        (static_cast<unsigned char>(lastPage_.data()[kHeaderTypeOffset]) & OggPage::kLastPage) == 0) {
        lastPage_.data()[kHeaderTypeOffset] =
            static_cast<char>(static_cast<unsigned char>(lastPage_.data()[kHeaderTypeOffset]) | OggPage::kLastPage);
        resealPage(lastPage_.data(), lastPage_.size());
        marked = file_.writeAt(lastPageOffset_, lastPage_.view().substr(0, OggPage::kFixedHeaderBytes));
    }
    lastPage_.clear();
    scratch_.clear();
    return file_.close() && marked;
}

}  // namespace korvanel
