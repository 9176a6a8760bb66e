#include "gate.hpp"

#include <algorithm>

#include "challenge_page.hpp"
#include "form_field.hpp"
#include "gate_prefix.hpp"
#include "return_path.hpp"
#include "work_threshold.hpp"

namespace vorn::gate {

namespace {

// Counters longer than this are no honest search's.
constexpr std::size_t maxCounterDigits = 20;

std::expected<std::string_view, Fault> clientAddress(const HttpRequest& request) {
    auto client = request.header("x-vorn-client");
    if (!client || client->empty()) return std::unexpected(Fault::NoClient);
    return *client;
}

std::expected<std::string_view, Fault> siteHost(const HttpRequest& request) {
    auto host = request.header("host");
    if (!host || !isPlainHost(*host)) return std::unexpected(Fault::BadHost);
    return *host;
}

std::expected<std::string, Fault> returnPath(std::string_view form) {
    auto field = formField(form, "return");
    if (!field) return std::unexpected(Fault::BadReturn);
    auto path = safeReturnPath(*field);
    if (!path) return std::unexpected(Fault::BadReturn);
    return std::move(*path);
}

std::expected<std::string, Fault> requiredField(std::string_view form, std::string_view name) {
    auto field = formField(form, name);
    if (!field) return std::unexpected(field.error());
    if (!*field) return std::unexpected(Fault::BadForm);
    return std::move(**field);
}

bool isCounter(std::string_view text) {
    return !text.empty() && text.size() <= maxCounterDigits &&
           std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

HttpResponse pageResponse(std::string body) {
    return {.status = 200,
            .headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "no-store"},
                        {"Content-Security-Policy", std::string(challengePagePolicy)},
                        {"X-Content-Type-Options", "nosniff"},
                        {"Referrer-Policy", "same-origin"}},
            .body = std::move(body)};
}

}  // namespace

Gate::Gate(ReceiptMinter& minter, GateMetrics& metrics, Settings settings, Clock clock)
    : minter_(minter),
      metrics_(metrics),
      nonces_(settings.nonceLifetime),
      replays_(settings.replaySlots),
      clock_(std::move(clock)) {}

HttpResponse Gate::handle(const HttpRequest& request) {
    std::expected<HttpResponse, Fault> response;
    if (request.method == "GET" && request.path == gatewayPrefix) {
        response = challenge(request);
    } else if (request.method == "POST" && request.path == answerPath) {
        response = answer(request);
    } else {
        return notFound();
    }
    if (!response) {
        metrics_.refused(response.error());
        return badRequest(response.error());
    }
    return std::move(*response);
}

std::expected<HttpResponse, Fault> Gate::challenge(const HttpRequest& request) {
    auto client = clientAddress(request);
    if (!client) return std::unexpected(client.error());
    auto header = request.header("x-vorn-difficulty");
    auto difficulty = header ? parseDifficulty(*header) : std::nullopt;
    if (!difficulty) return std::unexpected(Fault::NoDifficulty);
    if (auto host = siteHost(request); !host) return std::unexpected(host.error());
    auto back = returnPath(request.query);
    if (!back) return std::unexpected(back.error());

    const std::string nonce = nonces_.issue(*client, *difficulty, clock_());
    const std::string bound = hexText(workBound(*difficulty));
    metrics_.challengeServed();
    return pageResponse(challengePage(
        {.nonce = nonce, .bound = bound, .expectedTries = 1 / *difficulty, .returnPath = *back}));
}

// The difficulty solved is the one the nonce was issued for, which HAProxy
// set then; a level that rose since does not void an answer in flight.
std::expected<HttpResponse, Fault> Gate::answer(const HttpRequest& request) {
    auto client = clientAddress(request);
    if (!client) return std::unexpected(client.error());
    auto host = siteHost(request);
    if (!host) return std::unexpected(host.error());
    auto back = returnPath(request.body);
    if (!back) return std::unexpected(back.error());
    auto nonce = requiredField(request.body, "nonce");
    auto counter = requiredField(request.body, "counter");
    if (!nonce || !counter || !isCounter(*counter)) return std::unexpected(Fault::BadForm);

    const std::int64_t now = clock_();
    auto facts = nonces_.check(*nonce, *client, now);
    if (!facts) return std::unexpected(facts.error());
    if (!belowBound(workDigest(*nonce, *counter), workBound(facts->difficulty))) {
        return std::unexpected(Fault::WrongAnswer);
    }
    auto token = minter_.mint(*host, facts->difficulty, now);
    if (!token) return std::unexpected(token.error());
    switch (replays_.remember(facts->id, facts->issuedAt + nonces_.lifetime(), now)) {
        case ReplaySet::Outcome::Replayed:
            return std::unexpected(Fault::Replayed);
        case ReplaySet::Outcome::Full:
            return std::unexpected(Fault::ReplaySetFull);
        case ReplaySet::Outcome::Fresh:
            break;
    }
    metrics_.goodAnswer();
    return HttpResponse{.status = 303,
                        .headers = {{"Location", std::move(*back)},
                                    {"Set-Cookie", minter_.cookie(*token)},
                                    {"Cache-Control", "no-store"}},
                        .body = {}};
}

}  // namespace vorn::gate
