// Packet reassembly: the byte stream any TCP client may send the sandbox,
// read into requests until the reader gives up; SQL batches then lose their
// ALL_HEADERS and become text, as the session takes them.
#include "FuzzSupport.h"

#include "sandbox/tds/Batch.h"
#include "sandbox/tds/Packet.h"

#include <cstring>
#include <span>

namespace {

// The input, delivered as a socket would deliver it, then end-of-stream.
class Memory final : public sandbox::tds::ByteSource {
public:
    explicit Memory(std::span<const std::uint8_t> data) : data_(data) {}
    bool readExact(std::uint8_t* out, std::size_t size) override
    {
        if (size > data_.size() - at_) {
            ended_ = true;
            return false;
        }
        std::memcpy(out, data_.data() + at_, size);
        at_ += size;
        return true;
    }
    std::size_t consumed() const { return at_; }
    bool ended() const { return ended_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
    bool ended_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sandbox::tds;
    Memory stream(std::span(data, size));
    RequestReader reader(stream);
    std::size_t payloadBytes = 0;
    Request request;
    ReadStatus status;
    while ((status = reader.readRequest(request)) == ReadStatus::Ok) {
        // A request holds only bytes the stream did, headers not counted.
        payloadBytes += request.payload.size();
        FUZZ_CHECK(payloadBytes + HeaderSize <= stream.consumed());
        FUZZ_CHECK(request.payload.size() <= MaxRequestSize);
        if (request.type == packet::SqlBatch) {
            if (const auto text = batchText(request.payload))
                FUZZ_CHECK(text->size() * 2 == request.payload.size() - allHeadersLength(request.payload));
        }
    }
    // "Closed" only when the stream really ended.
    FUZZ_CHECK(status != ReadStatus::Closed || stream.ended());
    return 0;
}
