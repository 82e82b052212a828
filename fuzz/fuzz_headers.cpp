// The header parser and the page queue directly: the input is cut into packets (a length byte, then that
// many bytes), each packet goes on a page of its own to a stream record, and every page through the queue.
#include "fuzz_common.h"
#include "ogg/logical_stream.h"
#include "ogg/page_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Startup();
    COggLogicalStream stream(5, nullptr);
    COggPageQueue queue;
    ogg_stream_state os;
    ogg_stream_init(&os, 5);
    size_t at = 0;
    for (int n = 0; at < size && n < 64; ++n) {
        size_t length = data[at++];
        if (length == 255 && at + 2 <= size) { // a long packet: two more length bytes
            length = data[at] | data[at + 1] << 8;
            at += 2;
        }
        if (length > size - at) length = size - at;
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(data + at);
        op.bytes = static_cast<long>(length);
        op.b_o_s = n == 0;
        op.granulepos = length ? static_cast<ogg_int64_t>(data[at]) * 1000 - 1 : -1;
        op.packetno = n;
        at += length;
        ogg_stream_packetin(&os, &op);
        ogg_page og;
        while (ogg_stream_flush(&os, &og)) {
            stream.ParseHeaderPage(&og);
            LONGLONG t = stream.GranuleToTime(ogg_page_granulepos(&og));
            queue.AddPage(&og, (n & 1) ? &t : nullptr);
            if (n % 3 == 2) queue.Recycle(queue.RemoveHead());
        }
    }
    stream.FrameDuration();
    ogg_stream_clear(&os);
    return 0;
}
