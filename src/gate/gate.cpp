#include "gate/gate.hpp"

#include <algorithm>
#include <array>

#include "gate/challenge_page.hpp"
#include "gate/client_key.hpp"
#include "gate/cookie_notice.hpp"
#include "gate/form_field.hpp"
#include "gate/gate_routes.hpp"
#include "gate/return_path.hpp"
#include "gate/work_threshold.hpp"
#include "token/contract.hpp"

namespace vorn {

namespace {

// Counters longer than this are no honest search's.
constexpr std::size_t maxCounterDigits = 20;

using NonceField = std::array<char, std::tuple_size_v<NonceText>>;
using CounterField = std::array<char, maxCounterDigits>;
using ReturnField = std::array<char, maxReturnPath>;

std::expected<std::string_view, GateFault> clientAddress(const GateRequest& request) {
    auto client = request.header("x-vorn-client");
    if (!client || client->empty()) return std::unexpected(GateFault::NoClient);
    return *client;
}

std::expected<std::string_view, GateFault> siteHost(const GateRequest& request) {
    auto host = request.header("host");
    if (!host || !isPlainHost(*host)) return std::unexpected(GateFault::BadHost);
    return *host;
}

std::expected<std::string_view, GateFault> returnPath(std::string_view form, ReturnField& room) {
    auto field = formField(form, "return", room);
    if (!field) return std::unexpected(GateFault::BadReturn);
    auto path = safeReturnPath(*field);
    if (!path) return std::unexpected(GateFault::BadReturn);
    return *path;
}

template <std::size_t N>
std::expected<std::string_view, GateFault> requiredField(std::string_view form,
                                                         std::string_view name,
                                                         std::array<char, N>& room) {
    auto field = formField(form, name, room);
    if (!field) return std::unexpected(field.error());
    if (!*field) return std::unexpected(GateFault::BadForm);
    return **field;
}

bool isCounter(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// HAProxy says "https" or "http"; a configuration that does not say keeps
// the cookie Secure, as it always was.
bool overHttps(const GateRequest& request) {
    return request.header("x-vorn-scheme") != "http";
}

// True when the page was asked for from the gate's own page on this site:
// the visitor's browser posted an answer, was sent back to its page, and
// is being challenged again, so the pass cookie did not come back.
bool fromGatePage(const GateRequest& request, std::string_view host) {
    auto referer = request.header("referer");
    if (!referer) return false;
    std::string_view rest = *referer;
    for (std::string_view scheme : {"https://", "http://"}) {
        if (rest.starts_with(scheme)) rest.remove_prefix(scheme.size());
    }
    return rest.starts_with(host) && rest.substr(host.size()).starts_with(gatewayPrefix);
}

void pageHeaders(GateReply& reply) {
    reply.header("Content-Type", "text/html; charset=utf-8");
    reply.header("Cache-Control", "no-store");
    reply.header("Content-Security-Policy", gatePagePolicy);
    reply.header("X-Content-Type-Options", "nosniff");
    // The browser's next challenge page then names this one as its Referer.
    reply.header("Referrer-Policy", "same-origin");
}

}  // namespace

Gate::Gate(ReceiptMinter& minter, const GateSettings& settings)
    : minter_(minter),
      settings_(settings),
      nonces_(settings.nonceLifetime),
      replays_(settings.replayEntries, settings.nonceLifetime),
      clients_(settings.clientEntries, settings.challengesPerClient, settings.nonceLifetime) {}

SiteFacts Gate::site(std::string_view host) const {
    return {.name = settings_.siteName.empty() ? hostWithoutPort(host) : settings_.siteName,
            .contact = settings_.contact};
}

void Gate::handle(const GateRequest& request, const GateTime& now, GateReply& reply) {
    const bool get = request.method == "GET";
    if (get && request.path == healthPath) {
        plainReply(reply, 200, "ok\n");
        return;
    }
    GateLogRecord record{.ip = request.header("x-vorn-client").value_or("")};
    std::expected<void, GateFault> done;
    if (get && request.path == gatewayPrefix) {
        record.event = GateEvent::challenge;
        done = challenge(request, now, reply, record);
    } else if (request.method == "POST" && request.path == answerPath) {
        record.event = GateEvent::answer;
        done = answer(request, now, reply, record);
    } else {
        plainReply(reply, 404, "not found\n");
        return;
    }
    if (!done) {
        metrics_.refused(done.error());
        refuseReply(reply, done.error());
        record.outcome = "refused";
        record.reason = done.error();
    }
    // Served pages are counted, not logged: the answers and the refusals
    // are what an operator reads.
    if (record.outcome.empty()) return;
    if (!logGateRequest(record, now.wallMillis)) metrics_.logDropped();
}

std::expected<void, GateFault> Gate::challenge(const GateRequest& request, const GateTime& now,
                                               GateReply& reply, GateLogRecord& record) {
    auto client = clientAddress(request);
    if (!client) return std::unexpected(client.error());
    auto key = clientKey(*client);
    if (!key) return std::unexpected(GateFault::NoClient);
    auto header = request.header("x-vorn-difficulty");
    auto difficulty = header ? parseDifficulty(*header) : std::nullopt;
    if (!difficulty) return std::unexpected(GateFault::NoDifficulty);
    auto host = siteHost(request);
    if (!host) return std::unexpected(host.error());
    ReturnField returnRoom{};
    auto back = returnPath(request.query, returnRoom);
    if (!back) return std::unexpected(back.error());

    std::array<char, 1> retryRoom{};
    auto retry = formField(request.query, retryField, retryRoom);
    const bool retried = retry && retry->has_value();
    if (!retried && fromGatePage(request, *host) && !request.hasCookie(passCookie)) {
        metrics_.cookieMissing();
        record.outcome = "cookie_missing";
        pageHeaders(reply);
        writeCookieNotice(reply.body(),
                          {.host = *host,
                           .returnPath = *back,
                           .knownHttps = request.header("x-vorn-scheme") == "https"},
                          site(*host));
        return {};
    }
    switch (clients_.admit(*key, now.steadyMillis)) {
        case ClientLimits::Admission::limited:
            return std::unexpected(GateFault::TooManyChallenges);
        case ClientLimits::Admission::untracked:
            metrics_.untracked();
            break;
        case ClientLimits::Admission::admitted:
            break;
    }

    const NonceText nonce = nonces_.issue(*client, *difficulty, now.steadyMillis);
    const Hex256 bound = hexDigits(workBound(*difficulty));
    metrics_.challengeServed();
    pageHeaders(reply);
    writeChallengePage(reply.body(),
                       {.nonce = {nonce.data(), nonce.size()},
                        .bound = {bound.data(), bound.size()},
                        .expectedTries = 1 / *difficulty,
                        .returnPath = *back,
                        .passSeconds = minter_.lifetime()},
                       site(*host));
    return {};
}

// The difficulty solved is the one the nonce was issued for, which HAProxy
// set then; a level that rose since does not void an answer in flight.
std::expected<void, GateFault> Gate::answer(const GateRequest& request, const GateTime& now,
                                            GateReply& reply, GateLogRecord& record) {
    auto client = clientAddress(request);
    if (!client) return std::unexpected(client.error());
    auto host = siteHost(request);
    if (!host) return std::unexpected(host.error());
    ReturnField returnRoom{};
    auto back = returnPath(request.body, returnRoom);
    if (!back) return std::unexpected(back.error());
    NonceField nonceRoom{};
    CounterField counterRoom{};
    auto nonce = requiredField(request.body, "nonce", nonceRoom);
    auto counter = requiredField(request.body, "counter", counterRoom);
    if (!nonce || !counter || !isCounter(*counter)) return std::unexpected(GateFault::BadForm);

    auto facts = nonces_.check(*nonce, *client, now.steadyMillis);
    if (!facts) return std::unexpected(facts.error());
    record.solveMillis = now.steadyMillis - facts->issuedAtMillis;
    if (!belowBound(workDigest(*nonce, *counter), workBound(facts->difficulty))) {
        return std::unexpected(GateFault::WrongAnswer);
    }
    ReceiptText receipt{};
    auto token = minter_.mint(*host, facts->difficulty, now.wallSeconds(), receipt);
    if (!token) return std::unexpected(token.error());
    // Kept until the second after the nonce expires, so that no answer can
    // come once it is gone.
    const std::int64_t expiresAt = (facts->issuedAtMillis + nonces_.lifetimeMillis() + 999) / 1000;
    switch (replays_.remember(facts->id, expiresAt, now.steadySeconds())) {
        case ReplaySet::Outcome::Replayed:
            return std::unexpected(GateFault::Replayed);
        case ReplaySet::Outcome::Full:
            return std::unexpected(GateFault::ReplaySetFull);
        case ReplaySet::Outcome::Fresh:
            break;
    }
    if (auto key = clientKey(*client)) clients_.answered(*key, now.steadyMillis);
    metrics_.goodAnswer(*record.solveMillis);
    record.outcome = "pass";
    reply.status(303);
    reply.beginHeader("Location").text(*back);
    reply.endHeader();
    minter_.writeCookie(reply.beginHeader("Set-Cookie"), *token, overHttps(request));
    reply.endHeader();
    reply.header("Cache-Control", "no-store");
    reply.header("Referrer-Policy", "same-origin");
    return {};
}

std::expected<void, Error> Gate::render(TextWriter& out) {
    return metrics_.write(out, {.replayEntries = replays_.size(),
                                .replayCapacity = replays_.capacity(),
                                .clients = clients_.tracked(),
                                .startTimeSeconds = settings_.startTimeSeconds});
}

}  // namespace vorn
