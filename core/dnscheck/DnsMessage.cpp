#include "dnscheck/DnsMessage.hpp"

#include "dnscheck/ResolverLibrary.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>
#include <strings.h>

namespace {

// Far more than any real host has; a flood of records must not grow the lists without end.
constexpr std::size_t maxRecords = 64;

std::optional<ns_msg> parse(std::span<const unsigned char> bytes) {
    ns_msg message;
    if (bytes.empty() || ns_initparse(bytes.data(), static_cast<int>(bytes.size()), &message) < 0) {
        return std::nullopt;
    }
    return message;
}

struct Question {
    std::string name;
    int type;
    int klass;
};

std::optional<Question> onlyQuestion(ns_msg& message) {
    ns_rr record;
    if (ns_msg_count(message, ns_s_qd) != 1 || ns_parserr(&message, ns_s_qd, 0, &record) < 0) {
        return std::nullopt;
    }
    return Question{ns_rr_name(record), ns_rr_type(record), ns_rr_class(record)};
}

std::optional<std::string> addressText(const ns_rr& record) {
    char text[INET6_ADDRSTRLEN] = {};
    if (ns_rr_type(record) == ns_t_a && ns_rr_rdlen(record) == 4) {
        return inet_ntop(AF_INET, ns_rr_rdata(record), text, sizeof text) ? std::optional<std::string>(text)
                                                                          : std::nullopt;
    }
    if (ns_rr_type(record) == ns_t_aaaa && ns_rr_rdlen(record) == 16) {
        return inet_ntop(AF_INET6, ns_rr_rdata(record), text, sizeof text) ? std::optional<std::string>(text)
                                                                           : std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> recordValue(ns_msg& message, const ns_rr& record) {
    if (ns_rr_type(record) != ns_t_ns) {
        return addressText(record);
    }
    char name[NS_MAXDNAME] = {};
    if (ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record), name,
                           sizeof name) < 0) {
        return std::nullopt;
    }
    return std::string(name);
}

// A record that does not parse (an owner name that loops or runs past the end, an address of the wrong
// length, a name server's name that does not read) spoils the whole reply: the server said nothing usable.
bool wellFormed(ns_msg& message) {
    for (ns_sect section : {ns_s_an, ns_s_ns, ns_s_ar}) {
        for (int index = 0; index < ns_msg_count(message, section); ++index) {
            ns_rr record;
            if (ns_parserr(&message, section, index, &record) < 0) {
                return false;
            }
            const int type = ns_rr_type(record);
            if (ns_rr_class(record) == ns_c_in && (type == ns_t_a || type == ns_t_aaaa || type == ns_t_ns) &&
                !recordValue(message, record)) {
                return false;
            }
        }
    }
    return true;
}

// The values of every answer record of `type` owned by `owner`, each once, sorted; the least TTL.
DnsMessage::Records answerRecords(ns_msg& message, const std::string& owner, int type) {
    DnsMessage::Records found{{}, UINT32_MAX};
    const int count = ns_msg_count(message, ns_s_an);
    for (int index = 0; index < count && found.values.size() < maxRecords; ++index) {
        ns_rr record;
        if (ns_parserr(&message, ns_s_an, index, &record) < 0) {
            break;
        }
        if (ns_rr_type(record) != type || ns_rr_class(record) != ns_c_in ||
            !DnsMessage::sameName(ns_rr_name(record), owner)) {
            continue;
        }
        if (std::optional<std::string> value = recordValue(message, record)) {
            found.values.push_back(*value);
            found.ttl = std::min<std::uint32_t>(found.ttl, ns_rr_ttl(record));
        }
    }
    std::sort(found.values.begin(), found.values.end());
    found.values.erase(std::unique(found.values.begin(), found.values.end()), found.values.end());
    return found;
}

} // namespace

namespace DnsMessage {

bool sameName(std::string a, std::string b) {
    for (std::string* name : {&a, &b}) {
        if (!name->empty() && name->back() == '.') {
            name->pop_back();
        }
    }
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

Bytes query(const std::string& name, int type, Asked asked) {
    ResolverLibrary::State state;
    Bytes query(NS_PACKETSZ);
    int length = state.ready() ? res_nmkquery(state.get(), ns_o_query, name.c_str(), ns_c_in, type, nullptr,
                                              0, nullptr, query.data(), static_cast<int>(query.size()))
                               : -1;
    if (length < NS_HFIXEDSZ) {
        return {};
    }
    query.resize(static_cast<std::size_t>(length));
    // The authority must answer from its zone, not recurse; a resolver is asked to recurse.
    if (asked == Asked::authority) {
        query[2] &= static_cast<unsigned char>(~0x01u);
    } else {
        query[2] |= 0x01u;
    }
    return query;
}

bool isReplyTo(std::span<const unsigned char> reply, std::span<const unsigned char> query) {
    std::optional<ns_msg> answer = parse(reply);
    std::optional<ns_msg> asked = parse(query);
    if (!answer || !asked || ns_msg_id(*answer) != ns_msg_id(*asked) || !ns_msg_getflag(*answer, ns_f_qr) ||
        ns_msg_getflag(*answer, ns_f_opcode) != ns_o_query) {
        return false;
    }
    std::optional<Question> question = onlyQuestion(*answer);
    std::optional<Question> ours = onlyQuestion(*asked);
    return question && ours && question->type == ours->type && question->klass == ours->klass &&
           sameName(question->name, ours->name);
}

bool isTruncated(std::span<const unsigned char> reply) {
    std::optional<ns_msg> answer = parse(reply);
    return answer && ns_msg_getflag(*answer, ns_f_tc);
}

std::optional<AddressReply> readAddressReply(std::span<const unsigned char> reply,
                                             std::span<const unsigned char> query) {
    if (!isReplyTo(reply, query)) {
        return std::nullopt;
    }
    ns_msg answer = *parse(reply);
    ns_msg asked = *parse(query);
    if (ns_msg_getflag(answer, ns_f_tc)) {
        return AddressReply{Kind::truncated, {}};
    }
    const int rcode = ns_msg_getflag(answer, ns_f_rcode);
    if (!ns_msg_getflag(answer, ns_f_aa) || (rcode != ns_r_noerror && rcode != ns_r_nxdomain) ||
        !wellFormed(answer)) {
        return AddressReply{Kind::noAnswer, {}};
    }
    if (rcode == ns_r_nxdomain) {
        return AddressReply{Kind::answer, {}};
    }
    std::optional<Question> ours = onlyQuestion(asked);
    return AddressReply{Kind::answer, answerRecords(answer, ours->name, ours->type).values};
}

std::optional<Records> readRecords(std::span<const unsigned char> reply, const std::string& owner, int type) {
    std::optional<ns_msg> answer = parse(reply);
    if (!answer || ns_msg_getflag(*answer, ns_f_tc) || !wellFormed(*answer)) {
        return std::nullopt;
    }
    const int rcode = ns_msg_getflag(*answer, ns_f_rcode);
    if (rcode == ns_r_nxdomain) {
        return Records{{}, 0};
    }
    if (rcode != ns_r_noerror) {
        return std::nullopt;
    }
    return answerRecords(*answer, owner, type);
}

} // namespace DnsMessage
