#include "challenge_page.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "gate_prefix.hpp"

namespace vorn::gate {

namespace {

// The worker: a plain SHA-256 over ASCII text (no reliance on the page being
// a secure context) and the search, reporting every 4096 tries.
constexpr std::string_view workerScript = R"JS(
var K = new Uint32Array([
0x428a2f98,0x71374491,0xb5c0fbcf,0xe9b5dba5,0x3956c25b,0x59f111f1,0x923f82a4,0xab1c5ed5,
0xd807aa98,0x12835b01,0x243185be,0x550c7dc3,0x72be5d74,0x80deb1fe,0x9bdc06a7,0xc19bf174,
0xe49b69c1,0xefbe4786,0x0fc19dc6,0x240ca1cc,0x2de92c6f,0x4a7484aa,0x5cb0a9dc,0x76f988da,
0x983e5152,0xa831c66d,0xb00327c8,0xbf597fc7,0xc6e00bf3,0xd5a79147,0x06ca6351,0x14292967,
0x27b70a85,0x2e1b2138,0x4d2c6dfc,0x53380d13,0x650a7354,0x766a0abb,0x81c2c92e,0x92722c85,
0xa2bfe8a1,0xa81a664b,0xc24b8b70,0xc76c51a3,0xd192e819,0xd6990624,0xf40e3585,0x106aa070,
0x19a4c116,0x1e376c08,0x2748774c,0x34b0bcb5,0x391c0cb3,0x4ed8aa4a,0x5b9cca4f,0x682e6ff3,
0x748f82ee,0x78a5636f,0x84c87814,0x8cc70208,0x90befffa,0xa4506ceb,0xbef9a3f7,0xc67178f2]);
var W = new Uint32Array(64);
function rotr(x, n) { return (x >>> n) | (x << (32 - n)); }
function sha256hex(text) {
  var n = text.length, blocks = (n + 72) >> 6, m = new Uint32Array(blocks * 16), i, t;
  for (i = 0; i < n; i++) m[i >> 2] |= text.charCodeAt(i) << (24 - (i & 3) * 8);
  m[n >> 2] |= 0x80 << (24 - (n & 3) * 8);
  m[blocks * 16 - 1] = n * 8;
  var h = [0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19];
  for (var b = 0; b < blocks; b++) {
    for (t = 0; t < 16; t++) W[t] = m[b * 16 + t];
    for (t = 16; t < 64; t++) {
      var x = W[t - 15], y = W[t - 2];
      W[t] = W[t - 16] + (rotr(x, 7) ^ rotr(x, 18) ^ (x >>> 3)) + W[t - 7] +
             (rotr(y, 17) ^ rotr(y, 19) ^ (y >>> 10));
    }
    var a = h[0], c1 = h[1], c2 = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (t = 0; t < 64; t++) {
      var t1 = (k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[t] + W[t]) | 0;
      var t2 = ((rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & c1) ^ (a & c2) ^ (c1 & c2))) | 0;
      k = g; g = f; f = e; e = (d + t1) | 0; d = c2; c2 = c1; c1 = a; a = (t1 + t2) | 0;
    }
    h[0] = (h[0] + a) | 0; h[1] = (h[1] + c1) | 0; h[2] = (h[2] + c2) | 0; h[3] = (h[3] + d) | 0;
    h[4] = (h[4] + e) | 0; h[5] = (h[5] + f) | 0; h[6] = (h[6] + g) | 0; h[7] = (h[7] + k) | 0;
  }
  var hex = "";
  for (i = 0; i < 8; i++) hex += ((h[i] >>> 0) + 0x100000000).toString(16).slice(1);
  return hex;
}
onmessage = function (message) {
  var job = message.data, tried = 0;
  for (var counter = job.start; ; counter += job.step) {
    if (sha256hex(job.nonce + counter) < job.bound) {
      postMessage({ found: String(counter) });
      return;
    }
    if (++tried % 4096 === 0) postMessage({ tried: tried });
  }
};
)JS";

// Starts one worker per core (at most four), each on every n-th counter.
constexpr std::string_view pageScript = R"JS(
(function () {
  var facts = document.getElementById("gate").dataset;
  var status = document.getElementById("status");
  var bar = document.getElementById("progress");
  var form = document.getElementById("answer");
  if (!window.Worker || !window.Blob || !window.URL) {
    status.textContent = "This browser cannot run the check. Please try another browser.";
    return;
  }
  var source = document.getElementById("work").textContent;
  var url = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
  var count = Math.min(4, Math.max(1, navigator.hardwareConcurrency || 1));
  var expected = Number(facts.expected), tried = [], workers = [], done = false;
  function finish(counter) {
    done = true;
    workers.forEach(function (w) { w.terminate(); });
    bar.value = bar.max;
    status.textContent = "Done. Taking you to the page.";
    form.elements.counter.value = counter;
    form.submit();
  }
  function progress(index, value) {
    tried[index] = value;
    var total = tried.reduce(function (a, b) { return a + b; }, 0);
    bar.value = Math.min(total, expected);
    bar.textContent = Math.round(100 * bar.value / expected) + "%";
  }
  for (var i = 0; i < count; i++) {
    (function (index) {
      var worker = new Worker(url);
      workers.push(worker);
      tried.push(0);
      worker.onmessage = function (message) {
        if (done) return;
        if (message.data.found !== undefined) finish(message.data.found);
        else progress(index, message.data.tried);
      };
      worker.postMessage({ nonce: facts.nonce, bound: facts.bound, start: index, step: count });
    })(i);
  }
  bar.max = expected;
  bar.hidden = false;
  status.textContent = "Checking your browser. This usually takes a few seconds.";
})();
)JS";

constexpr std::string_view pageHead = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="robots" content="noindex">
<title>One moment, please</title>
<style>
body { font: 1.1rem/1.5 system-ui, sans-serif; margin: 0; color: #1b1b1b; background: #fafafa; }
main { max-width: 36rem; margin: 4rem auto; padding: 0 1rem; }
h1 { font-size: 1.6rem; }
progress { width: 100%; height: 1.2rem; }
@media (prefers-color-scheme: dark) { body { color: #eee; background: #181818; } }
</style>
</head>
<body>
)HTML";

// Up to 2^64 at the smallest difficulty: written from the double, since no
// 64-bit signed integer holds it.
std::string expectedText(double tries) {
    std::array<char, 32> digits{};
    auto written = std::to_chars(digits.data(), digits.data() + digits.size(), std::ceil(tries),
                                 std::chars_format::fixed, 0);
    return std::string(digits.data(), written.ptr);
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string challengePage(const ChallengeFacts& facts) {
    std::string page(pageHead);
    page += "<main id=\"gate\" data-nonce=\"" + std::string(facts.nonce) + "\" data-bound=\"" +
            std::string(facts.bound) + "\" data-expected=\"" + expectedText(facts.expectedTries) +
            "\">\n";
    page += R"HTML(<h1>One moment, please</h1>
<p>To keep automated scrapers from overloading this site, your browser is asked to do a
short calculation before the page opens. It runs by itself, once, and usually takes a few
seconds. Afterwards your browser keeps a pass and goes straight through.</p>
<noscript><p><strong>This check needs JavaScript.</strong> Please allow JavaScript for this
site and reload the page, or come back later.</p></noscript>
<p id="status" role="status" aria-live="polite"></p>
<progress id="progress" aria-label="Progress of the check" hidden></progress>
)HTML";
    page += "<form id=\"answer\" method=\"post\" action=\"" + std::string(answerPath) + "\">\n";
    page += "<input type=\"hidden\" name=\"nonce\" value=\"" + std::string(facts.nonce) + "\">\n";
    page += "<input type=\"hidden\" name=\"counter\" value=\"\">\n";
    page += "<input type=\"hidden\" name=\"return\" value=\"" + htmlEscape(facts.returnPath) +
            "\">\n</form>\n</main>\n";
    page += "<script type=\"text/plain\" id=\"work\">";
    page += workerScript;
    page += "</script>\n<script>";
    page += pageScript;
    page += "</script>\n</body>\n</html>\n";
    return page;
}

}  // namespace vorn::gate
