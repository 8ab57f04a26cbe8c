#include "recording/ogg_unit_parser.h"

#include "stream/ogg_page.h"

namespace korvanel {

void OggUnitParser::reset() {
    incoming_.clear();
    consumed_ = 0;
}

bool OggUnitParser::nextUnit(Unit& unit) {
    const std::string_view data = incoming_.view();
    for (;;) {
        const std::size_t start = findOggCapturePattern(data, consumed_);
        if (start == std::string_view::npos) {
            // Keep the last bytes: a capture pattern may begin among them.
            const std::size_t keep = data.size() - consumed_ < 3 ? data.size() - consumed_ : 3;
            consumed_ = data.size() - keep;
            return false;
        }
        consumed_ = start;

        OggPage page;
        const OggPageStatus status = parseOggPage(data, start, page);
        if (status == OggPageStatus::NeedMore) {
            return false;
        }
        if (status == OggPageStatus::NotAPage || page.continued()) {
            // A wrong version byte, or the rest of a packet whose start is lost.
            consumed_ = status == OggPageStatus::NotAPage ? start + 1 : start + page.pageBytes;
            continue;
        }

        unit = Unit{};
        unit.firstOfStream = page.firstOfStream();
        unit.lastOfStream = page.lastOfStream();
        unit.packetsEnded = page.packetsEnded;
        unit.serial = page.serial;
        std::size_t end = start + page.pageBytes;
        bool endsWithPacket = page.endsWithPacket;
        bool tooLarge = false;
        while (!endsWithPacket) {
            // The packet goes on: the unit is complete only when the next
            // page is here, or known not to continue it.
            OggPage next;
            const OggPageStatus nextStatus = parseOggPage(data, end, next);
            if (nextStatus == OggPageStatus::NeedMore) {
                if (end - start > kMaxUnitBytes) {
                    tooLarge = true;
                    break;
                }
                return false;
            }
            if (nextStatus == OggPageStatus::NotAPage || !next.continued() || next.serial != unit.serial) {
                break;
            }
            unit.lastOfStream = unit.lastOfStream || next.lastOfStream();
            unit.packetsEnded += next.packetsEnded;
            end += next.pageBytes;
            endsWithPacket = next.endsWithPacket;
        }
        consumed_ = end;
        if (tooLarge || end - start > kMaxUnitBytes) {
            continue;
        }
        unit.bytes = data.substr(start, end - start);
        return true;
    }
}

}  // namespace korvanel
