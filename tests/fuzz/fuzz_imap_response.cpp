// The IMAP response parser. Input: one byte choosing the piece size (1 to 64) and the literal budget
// (none, 64 bytes, 4 KiB or the default), then the server's bytes.
// Checked: fed whole and fed in pieces, the parser hands out the same
// responses and stops at the same place; the observer sees exactly the bytes
// that were taken; a Broken response always says why.
#include <vector>

#include "fuzz_util.h"
#include "providers/imap/imap_response.h"

namespace {

void Render(const kv::clsImapValue &v, std::string &out) {
    out += char('0' + int(v.kind)) + std::to_string(v.text.size()) + ":" + v.text;
    if (v.kind == kv::clsImapValue::Kind::Number) out += "=" + std::to_string(v.number);
    out += "(";
    for (const kv::clsImapValue &item : v.items) Render(item, out);
    out += ")";
}

std::string Render(const kv::clsImapResponse &r) {
    fuzz::Check(r.kind != kv::clsImapResponse::Kind::Broken || !r.error.empty());
    std::string out = std::to_string(int(r.kind)) + "|" + r.tag + "|" + r.status + "|" + r.code + "|" + r.codeText +
                      "|" + r.text + "|" + r.error + "|" + r.line + "|";
    for (const kv::clsImapValue &v : r.data) Render(v, out);
    return out;
}

struct Outcome {
    std::vector<std::string> responses;
    size_t taken = 0;
    std::string seen;
    bool lost = false;
};

Outcome Run(const uint8_t *data, size_t size, size_t piece, uint64_t budget) {
    Outcome o;
    kv::clsImapParser parser;
    parser.SetLiteralBudget(budget);
    parser.SetObserver([&](std::string_view bytes, bool) { o.seen.append(bytes); });
    const char *p = reinterpret_cast<const char *>(data);
    while (o.taken < size) {
        size_t n = std::min(piece, size - o.taken);
        size_t used = parser.Feed(p + o.taken, n);
        o.taken += used;
        if (parser.Ready())
            o.responses.push_back(Render(parser.Take()));
        else if (parser.Lost())
            break;
        else
            fuzz::Check(used == n);
    }
    o.lost = parser.Lost();
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    size_t piece = size_t(data[0] >> 2) + 1;
    static const uint64_t kBudgets[] = {0, 64, 4096, kv::clsImapParser::kDefaultLiteralBudget};
    uint64_t budget = kBudgets[data[0] & 3];
    ++data, --size;
    Outcome whole = Run(data, size, size ? size : 1, budget);
    Outcome pieces = Run(data, size, piece, budget);
    fuzz::Check(whole.responses == pieces.responses);
    fuzz::Check(whole.taken == pieces.taken && whole.lost == pieces.lost);
    fuzz::Check(whole.seen == std::string(reinterpret_cast<const char *>(data), whole.taken));
    fuzz::Check(pieces.seen == whole.seen);
    return 0;
}
