#include "gate/challenge_page.hpp"

#include <cmath>

#include "gate/gate_routes.hpp"

namespace vorn {

namespace {

// The worker: the browser's SHA-256 (crypto.subtle, only in a secure
// context) with many digests in flight, or else a plain script SHA-256 over
// ASCII text. It reports how many counters it tried and, at the end, the
// counter that meets the bound.
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
function scriptSearch(job, from, tried) {
  postMessage({ mode: "script" });
  for (var counter = from; ; counter += job.step) {
    tried++;
    if (sha256hex(job.nonce + counter) < job.bound) {
      postMessage({ found: String(counter), tried: tried });
      return;
    }
    if (tried % 4096 === 0) postMessage({ tried: tried });
  }
}
function nativeSearch(job) {
  var prefix = new TextEncoder().encode(job.nonce), bound = [], next = job.start, tried = 0, i;
  for (i = 0; i < 32; i++) bound.push(parseInt(job.bound.substr(2 * i, 2), 16));
  function below(digest) {
    var bytes = new Uint8Array(digest);
    for (var j = 0; j < 32; j++) if (bytes[j] !== bound[j]) return bytes[j] < bound[j];
    return false;
  }
  function round() {
    var counters = [], digests = [];
    for (var n = 0; n < 256; n++) {
      var digits = String(next), data = new Uint8Array(prefix.length + digits.length);
      data.set(prefix);
      for (var d = 0; d < digits.length; d++) data[prefix.length + d] = digits.charCodeAt(d);
      counters.push(next);
      digests.push(crypto.subtle.digest("SHA-256", data));
      next += job.step;
    }
    Promise.all(digests).then(function (results) {
      for (var r = 0; r < results.length; r++) {
        if (below(results[r])) {
          postMessage({ found: String(counters[r]), tried: tried + r + 1 });
          return;
        }
      }
      tried += results.length;
      if (tried % 4096 === 0) postMessage({ tried: tried });
      round();
    }, function () { scriptSearch(job, counters[0], tried); });
  }
  postMessage({ mode: "native" });
  round();
}
onmessage = function (message) {
  if (self.isSecureContext && self.crypto && crypto.subtle) nativeSearch(message.data);
  else scriptSearch(message.data, message.data.start, 0);
};
)JS";

// Starts one worker per core (at most four), each on every n-th counter.
constexpr std::string_view pageScript = R"JS(
(function () {
  var form = document.getElementById("answer"), facts = form.dataset;
  var status = document.getElementById("status");
  var bar = document.getElementById("progress");
  var speed = document.getElementById("speed");
  if (!window.Worker || !window.Blob || !window.URL) {
    status.textContent = "This browser cannot run the check. Please try another browser.";
    return;
  }
  var source = document.getElementById("work").textContent;
  var url = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
  var count = Math.min(4, Math.max(1, navigator.hardwareConcurrency || 1));
  facts.workers = count;
  var expected = Number(facts.expected), tried = [], workers = [], done = false;
  var started = performance.now();
  function show() {
    var total = tried.reduce(function (a, b) { return a + b; }, 0);
    var share = done ? 1 : 1 - Math.exp(-total / expected);
    bar.value = share;
    bar.textContent = Math.round(100 * share) + "%";
    var seconds = (performance.now() - started) / 1000;
    if (seconds < 0.25) return;
    facts.rate = Math.round(total / seconds / count);
    speed.textContent = total.toLocaleString("en") + " tried, " +
      Number(facts.rate).toLocaleString("en") + " a second in each of " + count +
      (count === 1 ? " worker" : " workers") + ".";
  }
  function finish(index, message) {
    done = true;
    tried[index] = message.tried;
    workers.forEach(function (w) { w.terminate(); });
    show();
    status.textContent = "Done. Taking you to the page.";
    form.elements.counter.value = message.found;
    form.submit();
  }
  for (var i = 0; i < count; i++) {
    (function (index) {
      var worker = new Worker(url);
      workers.push(worker);
      tried.push(0);
      worker.onmessage = function (message) {
        if (done) return;
        if (message.data.mode) facts.mode = message.data.mode;
        else if (message.data.found !== undefined) finish(index, message.data);
        else { tried[index] = message.data.tried; show(); }
      };
      worker.postMessage({ nonce: facts.nonce, bound: facts.bound, start: index, step: count });
    })(i);
  }
  bar.max = 1;
  bar.hidden = false;
  status.textContent = "Checking your browser. This usually takes a few seconds.";
})();
)JS";

void writePassLifetime(TextWriter& out, std::int64_t seconds) {
    const bool hours = seconds >= 7200;
    const std::int64_t amount = hours ? (seconds + 1800) / 3600 : (seconds + 30) / 60;
    out.number(amount).text(hours ? " hours" : amount == 1 ? " minute" : " minutes");
}

}  // namespace

void writeChallengePage(TextWriter& out, const ChallengeFacts& facts, const SiteFacts& site) {
    writePageStart(out, "One moment, please", site);
    out.text("<p>To keep automated scrapers from overloading ");
    writeHtmlEscaped(out, site.name);
    out.text(", your browser is asked to do a short calculation before the page opens: about ");
    out.fixed<0>(std::ceil(facts.expectedTries));
    out.text(" tries of SHA-256 on average. It runs by itself, once; afterwards your browser ");
    out.text("keeps a pass for ");
    writePassLifetime(out, facts.passSeconds);
    out.text(" and goes straight through.</p>\n");
    out.text("<noscript><p><strong>This check needs JavaScript.</strong> Allow JavaScript for ");
    writeHtmlEscaped(out, site.name);
    out.text(" in your browser's settings for this site, then reload this page.");
    if (!site.contact.empty()) {
        out.text(" If you cannot, contact ");
        writeContact(out, site.contact);
        out.text(".");
    }
    out.text("</p></noscript>\n");
    out.text("<p id=\"status\" role=\"status\" aria-live=\"polite\"></p>\n");
    out.text("<progress id=\"progress\" aria-label=\"Progress of the check\" hidden></progress>\n");
    out.text("<p><small id=\"speed\"></small></p>\n");
    out.text("<form id=\"answer\" method=\"post\" action=\"").text(answerPath);
    out.text("\" data-nonce=\"").text(facts.nonce).text("\" data-bound=\"").text(facts.bound);
    out.text("\" data-expected=\"").fixed<0>(std::ceil(facts.expectedTries)).text("\">\n");
    out.text("<input type=\"hidden\" name=\"nonce\" value=\"").text(facts.nonce).text("\">\n");
    out.text("<input type=\"hidden\" name=\"counter\" value=\"\">\n");
    out.text("<input type=\"hidden\" name=\"return\" value=\"");
    writeHtmlEscaped(out, facts.returnPath);
    out.text("\">\n</form>\n");
    out.text("<script type=\"text/plain\" id=\"work\">").text(workerScript).text("</script>\n");
    out.text("<script>").text(pageScript).text("</script>\n");
    writePageEnd(out, site);
}

}  // namespace vorn
