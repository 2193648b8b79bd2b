// A real browser through the whole system: headless Chromium loads pages of
// a scripted origin through varlume (the origin stands behind it as its
// upstream proxy, so the pages have site names), and the same pages use the
// file and event services that varlume started from its program folder.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/percent_encoded.h"
#include "support/chromium.h"
#include "support/event_service.h"
#include "support/origin_server.h"
#include "support/sandbox.h"
#include "support/whole_system.h"

namespace {

using origin::VLReceived;
using origin::VLReply;

const std::string kFileSuccess =
    "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeFile></VarlumeFile></Varlume>";
const std::string kEventSuccess =
    "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeEvent></VarlumeEvent></Varlume>";

// The pages of the scripted origin, by site and path.
const char kImagesPage[] = R"(<!DOCTYPE html>
<html><head><title>Sub-resources</title><link rel="stylesheet" href="/style.css"></head>
<body><p id="status">waiting</p><img id="logo" src="/logo.png">
<script src="/app.js"></script></body></html>)";

const char kStyleSheet[] = "#status { color: rgb(1, 2, 3); }\n";

const char kAppScript[] = R"(window.addEventListener('load', () => {
  const image = document.getElementById('logo');
  const color = getComputedStyle(document.getElementById('status')).color;
  document.getElementById('status').textContent =
      'script ran; image ' + image.naturalWidth + 'x' + image.naturalHeight + '; color ' + color;
});)";

const char kFilesPage[] = R"(<!DOCTYPE html>
<html><head><title>Files</title></head><body>
<form id="upload" method="post" enctype="multipart/form-data" target="sink"
      action="/varlume/file/SAVEFILE?Path=forms"><input type="file" name="f" id="picker"></form>
<iframe name="sink" id="sink"></iframe>
<script>
const log = [];
function done(text) { log.push(text); }
// The page's last request hands the whole log to the origin.
function report() { fetch('/report', {method: 'POST', body: log.join(' | ')}); }
async function fetched(url, options) {
  const answer = await fetch(url, options);
  return answer.status + ' ' + await answer.text();
}
async function afterForm() {
  const body = new FormData();
  body.append('f', new Blob(['saved by fetch'], {type: 'text/plain'}), 'fetched.txt');
  done('save: ' + await fetched('/varlume/file/SAVEFILE?Path=notes', {method: 'POST', body}));
  const listing = await fetched('/varlume/file/SCANDIR?Name=notes');
  done('list: ' + (listing.includes('<Name>fetched.txt</Name>') ? 'fetched.txt listed' : listing));
  done('read: ' + await fetched('/varlume/file/GET?Path=notes/fetched.txt'));
  done('form read: ' + await fetched('/varlume/file/GET?Path=forms/form.txt'));
  done('event: ' + await fetched('/varlume/event/ADDSERVEREVENT?Path=/watched&Event=NOWEB&Action=/varlume/web/b.example/x&ActionParams=a'));
}
const files = new DataTransfer();
files.items.add(new File(['sent by a form'], 'form.txt', {type: 'text/plain'}));
document.getElementById('picker').files = files.files;
let submitted = false;
document.getElementById('sink').addEventListener('load', () => {
  if (!submitted) return;
  done('form: ' + document.getElementById('sink').contentDocument.documentElement.textContent.includes('Success'));
  afterForm().catch(error => done('failed: ' + error)).finally(report);
});
submitted = true;
document.getElementById('upload').submit();
</script></body></html>)";

// A page whose one image is of a type the cache keeps. The line the image's
// handler writes comes before the image: the parser may yield after the
// image and let it load before it reads on (it does on a busy machine, and
// always in the long comment that follows the image here).
std::string cachedPage() {
  return "<!DOCTYPE html>\n<html><head><title>Cached</title></head><body><p id=\"size\">not loaded</p>"
         "<img id=\"kept\" src=\"/kept.png\" onload=\"document.getElementById('size').textContent = "
         "this.naturalWidth + 'x' + this.naturalHeight\">\n<!--" + std::string(512 << 10, 'x') +
         "-->\n</body></html>";
}

// A page of one site that reads another site through the proxy's web form,
// before and after that site's declaration.
const char kCrossSitePage[] = R"(<!DOCTYPE html>
<html><head><title>Cross-site</title></head><body><script>
const log = [];
function done(text) { log.push(text); }
// A refused read is redirected to the portal, on another host: the page
// sees only that it was redirected.
async function probe(path) {
  const answer = await fetch('/varlume/web/b.example' + path, {redirect: 'manual'});
  if (answer.type === 'opaqueredirect') return 'redirected';
  return answer.status + ' ' + await answer.text();
}
async function run() {
  done('before: ' + await probe('/public.txt'));
  await fetch('/varlume/event/CROSSSITESCRIPT?b.example');
  done('after: ' + await probe('/public.txt'));
  done('denied: ' + await probe('/private/secret.txt'));
}
run().catch(error => done('failed: ' + error))
     .finally(() => fetch('/report', {method: 'POST', body: log.join(' | ')}));
</script></body></html>)";

// The portal page with its two words filled by `host` and `query` (sent as
// they are), as the portal redirect names it, or as any page may frame it.
std::string portalUrl(const std::string& host, const std::string& query, const std::string& more = "") {
  return "http://varlume.internal/varlume/file/varlumeportal.html?VLReplaceCount=3"
         "&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=" + host +
         "&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=" + query + more;
}

// A page of another site that frames the portal with pairs of its own: a
// key that would turn the portal's textContent into innerHTML, and markup
// in the query whose handler would use the privileged host's commands
// (its fetches carry the portal's Referer).
std::string attackPage() {
  const std::string markup =
      "<img src=x onerror=\"fetch('/varlume/file/SETPROXY?Host=127.0.0.77&Port=3128');"
      "fetch('/varlume/event/ADDCROSSSITEUSER?Domain=evil.example&CrossDomain=bank.example&Permission=3')\">";
  return "<!DOCTYPE html><html><body><iframe id=\"portal\" src=\"" +
         portalUrl("bank.example", percentEncoded(markup),
                   "&VLReplaceKey3=textContent&VLReplaceValue3=innerHTML") +
         "\"></iframe></body></html>";
}

// A page that keeps one of its site's articles through the mirror form.
const char kKeepPage[] = R"(<!DOCTYPE html>
<html><head><title>Keep</title></head><body><p id="status">waiting</p><script>
fetch('/varlume/mirror/a.example/article.html')
    .then(answer => { document.getElementById('status').textContent = 'mirror ' + answer.status; },
          error => { document.getElementById('status').textContent = 'failed ' + error; });
</script></body></html>)";

// The text between the element's start tag (id="<id>") and its end.
std::string elementText(const std::string& dom, const std::string& id) {
  const std::size_t at = dom.find("id=\"" + id + "\"");
  if (at == std::string::npos) return std::string();
  const std::size_t start = dom.find('>', at);
  const std::size_t end = dom.find('<', start);
  if (start == std::string::npos || end == std::string::npos) return std::string();
  return dom.substr(start + 1, end - start - 1);
}

// A PNG picture: its signature and header chunk.
bool isPng(const std::string& png) {
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  return png.size() > 16 && png.compare(0, 8, kSignature) == 0 && png.compare(12, 4, "IHDR") == 0;
}

// The origin: answers each absolute request line by site and path, and
// counts the requests per URL.
class ScriptedOrigin {
 public:
  ScriptedOrigin()
      : logo_(sandbox::readFile(VARLUME_SOURCE_DIR "/data/varlumeLogoMedium.png").value_or("")),
        server_([this](const VLReceived& request) { return answer(request); }) {}

  bool listening() const { return server_.listening() && !logo_.empty(); }
  int port() const { return server_.port(); }
  int count(const std::string& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[url];
  }
  // The body of the first request for `url`; empty while none came. A
  // request is counted before it is listed as received, so a wait for a
  // report waits on its body, never on its count.
  std::string bodyOf(const std::string& url) {
    for (const VLReceived& request : server_.received()) {
      if (request.path() == url) return request.body;
    }
    return std::string();
  }

 private:
  VLReply answer(const VLReceived& request) {
    const std::string url = request.path();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counts_[url];
    }
    const std::map<std::string, std::pair<std::string, std::string>> pages = {
        {"http://a.example/images.html", {"text/html", kImagesPage}},
        {"http://a.example/style.css", {"text/css", kStyleSheet}},
        {"http://a.example/app.js", {"text/javascript", kAppScript}},
        {"http://a.example/logo.png", {"image/png", logo_}},
        {"http://a.example/cached.html", {"text/html", cachedPage()}},
        {"http://a.example/kept.png", {"image/png", logo_}},
        {"http://a.example/article.html", {"text/html", "<html><body>an article to keep</body></html>"}},
        {"http://a.example/keep.html", {"text/html", kKeepPage}},
        {"http://a.example/files.html", {"text/html", kFilesPage}},
        {"http://a.example/cross.html", {"text/html", kCrossSitePage}},
        {"http://b.example/varlume.txt", {"text/plain", "domain=b.example\ndeny\npath=/private*\n"}},
        {"http://b.example/public.txt", {"text/plain", "public text of b"}},
        {"http://b.example/private/secret.txt", {"text/plain", "secret text of b"}},
        {"http://evil.example/attack.html", {"text/html", attackPage()}},
    };
    const auto found = pages.find(url);
    if (found == pages.end()) {
      return VLReply::bytes("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
    // The browser keeps nothing of its own, so every load asks the proxy;
    // the proxy keeps no copy of what the server says not to store.
    const std::string keeping = url == "http://a.example/kept.png" ? "no-cache" : "no-store";
    return VLReply::withLength(found->second.second,
                               "Content-Type: " + found->second.first + "\r\nCache-Control: " + keeping + "\r\n");
  }

  std::string logo_;
  std::mutex mutex_;
  std::map<std::string, int> counts_;
  origin::VLOriginServer server_;
};

class BrowserThroughSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(origin.listening());
    ASSERT_TRUE(system.start(upstream ? origin.port() : 0));
    browser = std::make_unique<browsertest::VLChromium>(box, system.proxyPort());
    const std::string reason = browser->unavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }

  std::string dom(const std::string& url) {
    std::string text;
    EXPECT_TRUE(browser->dumpDom(url, text)) << url << "\n" << browser->lastErrors();
    return text;
  }

  // Members end in reverse order: the browser, the programs, the origin,
  // then the folders.
  sandbox::VLSandbox box;
  ScriptedOrigin origin;
  servicetest::VLWholeSystem system{box};
  std::unique_ptr<browsertest::VLChromium> browser;
  // The origin stands behind varlume as its upstream proxy.
  bool upstream = true;
};

// varlume without an upstream: it reaches sites itself, here only loopback ones.
class BrowserWithoutUpstream : public BrowserThroughSystem {
 protected:
  BrowserWithoutUpstream() { upstream = false; }
};

TEST_F(BrowserThroughSystem, EverySubResourceOfAPageArrivesAndItsScriptRuns) {
  const std::string page = dom("http://a.example/images.html");
  const std::string logo = sandbox::readFile(VARLUME_SOURCE_DIR "/data/varlumeLogoMedium.png").value_or("");
  ASSERT_GT(logo.size(), 24u);
  // The PNG's own size, from its header.
  auto be32 = [&](std::size_t at) {
    return (static_cast<unsigned char>(logo[at]) << 24) | (static_cast<unsigned char>(logo[at + 1]) << 16) |
           (static_cast<unsigned char>(logo[at + 2]) << 8) | static_cast<unsigned char>(logo[at + 3]);
  };
  EXPECT_EQ(elementText(page, "status"), "script ran; image " + std::to_string(be32(16)) + "x" +
                                             std::to_string(be32(20)) + "; color rgb(1, 2, 3)")
      << page;
  for (const char* url : {"http://a.example/images.html", "http://a.example/style.css",
                          "http://a.example/app.js", "http://a.example/logo.png"}) {
    EXPECT_EQ(origin.count(url), 1) << url;
  }
}

TEST_F(BrowserThroughSystem, TheSecondLoadOfACachedImageComesFromTheCache) {
  const std::string first = dom("http://a.example/cached.html");
  const std::string size = elementText(first, "size");
  EXPECT_NE(size.find('x'), std::string::npos) << first;
  EXPECT_TRUE(sandbox::waitUntil(
      [&] { return sandbox::isFile(box.user(0).documents + "/Varlume/Cache/a.example/kept.png"); }, 5000));
  // The browser asks again; the proxy answers from its copy.
  EXPECT_EQ(elementText(dom("http://a.example/cached.html"), "size"), size);
  EXPECT_EQ(origin.count("http://a.example/cached.html"), 2);
  EXPECT_EQ(origin.count("http://a.example/kept.png"), 1);
}

TEST_F(BrowserThroughSystem, AMirroredPageLandsInTheDataRoot) {
  // The site's own page asks for the mirror and gets the short success
  // answer.
  EXPECT_EQ(elementText(dom("http://a.example/keep.html"), "status"), "mirror 200");
  EXPECT_EQ(sandbox::readFile(box.user(0).documents + "/Varlume/a.example/article.html").value_or(""),
            "<html><body>an article to keep</body></html>");
  EXPECT_EQ(origin.count("http://a.example/article.html"), 1);
}

TEST_F(BrowserThroughSystem, APageSavesListsAndReadsFilesAndRecordsAnEvent) {
  const std::string report = "http://a.example/report";
  EXPECT_TRUE(browser->openUntil("http://a.example/files.html", [&] { return !origin.bodyOf(report).empty(); }))
      << browser->lastErrors();
  EXPECT_EQ(origin.bodyOf(report),
            "form: true | save: 200 " + kFileSuccess +
                " | list: fetched.txt listed | read: 200 saved by fetch | form read: 200 sent by a form"
                " | event: 200 " + kEventSuccess);
  const std::string home = box.user(0).documents + "/Varlume/a.example";
  EXPECT_EQ(sandbox::readFile(home + "/notes/fetched.txt").value_or(""), "saved by fetch");
  EXPECT_EQ(sandbox::readFile(home + "/forms/form.txt").value_or(""), "sent by a form");
  EXPECT_EQ(eventtest::rowsOf(home + "/EventDatabase.db", "SELECT * FROM ServerEvent"),
            (eventtest::Rows{{"/watched", "NOWEB", "/varlume/web/b.example/x", "a"}}));
  // The page itself came from the origin; the service requests never did.
  EXPECT_EQ(origin.count("http://a.example/files.html"), 1);
  EXPECT_EQ(origin.count("http://a.example/varlume/file/SCANDIR?Name=notes"), 0);
}

TEST_F(BrowserThroughSystem, ACrossSiteReadPassesOnlyOnceTheSiteDeclaredIt) {
  const std::string report = "http://a.example/report";
  EXPECT_TRUE(browser->openUntil("http://a.example/cross.html", [&] { return !origin.bodyOf(report).empty(); }))
      << browser->lastErrors();
  EXPECT_EQ(origin.bodyOf(report), "before: redirected | after: 200 public text of b | denied: redirected");
  EXPECT_EQ(origin.count("http://b.example/varlume.txt"), 1);
  EXPECT_EQ(origin.count("http://b.example/public.txt"), 1);
  EXPECT_EQ(origin.count("http://b.example/private/secret.txt"), 0);
}

TEST_F(BrowserWithoutUpstream, AnUnreachableSiteEndsOnThePortalPage) {
  const std::string site = "127.0.0.1:" + std::to_string(sandbox::freeLoopbackPorts(1)[0]);
  const std::string page = dom("http://" + site + "/");
  EXPECT_NE(page.find("<title>Varlume Portal</title>"), std::string::npos) << page;
  EXPECT_NE(page.find("data-host=\"" + site + "\""), std::string::npos) << page;
  // The failed request is shown, and is a link to try it again.
  EXPECT_EQ(elementText(page, "host"), site) << page;
  EXPECT_EQ(elementText(page, "query"), "http://" + site + "/") << page;
  EXPECT_NE(page.find("href=\"http://" + site + "/\""), std::string::npos) << page;

  // A blank page of the same size compresses to a small picture; the
  // portal's text and images make it several times larger.
  const std::string picture = box.root() + "/portal.png";
  const std::string blank = box.root() + "/blank.png";
  ASSERT_TRUE(browser->screenshot("http://" + site + "/", picture)) << browser->lastErrors();
  ASSERT_TRUE(browser->screenshot("data:text/html,<body></body>", blank)) << browser->lastErrors();
  const std::string portalBytes = sandbox::readFile(picture).value_or("");
  const std::string blankBytes = sandbox::readFile(blank).value_or("");
  ASSERT_TRUE(isPng(portalBytes) && isPng(blankBytes));
  EXPECT_GT(portalBytes.size(), 4 * blankBytes.size()) << portalBytes.size() << " against " << blankBytes.size();
}

TEST_F(BrowserThroughSystem, AFramedPortalWithHostilePairsRunsNoScriptAndChangesNoSetting) {
  const std::string config = box.user(0).localAppData + "/Varlume/varlume.config";
  const std::string privileged = box.user(0).documents + "/Varlume/varlume.internal/EventDatabase.db";
  const std::optional<std::string> configBefore = sandbox::readFile(config);
  const std::optional<std::string> databaseBefore = sandbox::readFile(privileged);
  ASSERT_TRUE(configBefore.has_value());
  const std::string page = dom("http://evil.example/attack.html");
  EXPECT_NE(page.find("id=\"portal\""), std::string::npos) << page;
  EXPECT_EQ(sandbox::readFile(config), configBefore);
  EXPECT_TRUE(sandbox::readFile(privileged) == databaseBefore) << "the privileged database changed";
  EXPECT_EQ(eventtest::rowsOf(privileged, "SELECT * FROM CrossSiteUser"), eventtest::Rows{});
  // Framed or not, the portal shows the hostile query as text.
  const std::string framed = dom(portalUrl("bank.example", percentEncoded("<img src=x onerror=alert(1)>"),
                                           "&VLReplaceKey3=textContent&VLReplaceValue3=innerHTML"));
  EXPECT_EQ(elementText(framed, "host"), "bank.example") << framed;
  EXPECT_EQ(elementText(framed, "query"), "&lt;img src=x onerror=alert(1)&gt;") << framed;
  EXPECT_EQ(framed.find("<img src=\"x\""), std::string::npos) << framed;
}

TEST_F(BrowserThroughSystem, ThePortalLinksOnlyAnHttpAddressOfTheFailedRequest) {
  struct LinkCase {
    std::string query;
    std::string href;  // "-": no link
  };
  const LinkCase cases[] = {
      {percentEncoded("http://a.example/x?y=1"), "http://a.example/x?y=1"},
      {percentEncoded("/docs/x"), "http://a.example/docs/x"},
      {percentEncoded("javascript:alert(1)"), "-"},
      {percentEncoded(" JaVaScRiPt:alert(1)"), "-"},
      {percentEncoded("data:text/html,<script>alert(1)</script>"), "-"},
      {percentEncoded("https://a.example/"), "-"},
      {percentEncoded("http://a.example/\" onclick=\"alert(1)"), "-"},
  };
  // One page of the portal's own host frames the portal for every case and
  // writes down each one's link (one browser run for all of them).
  std::string queries;
  std::string expected;
  for (const LinkCase& c : cases) {
    queries += "'" + c.query + "',";
    expected += c.href + "\n";
  }
  ASSERT_TRUE(sandbox::writeFile(
      box.user(0).documents + "/Varlume/varlume.internal/links.html",
      "<!DOCTYPE html><html><body><pre id=\"links\">waiting</pre><script>\n"
      "const queries = [" + queries + "];\n"
      "const links = [];\n"
      "let left = queries.length;\n"
      "queries.forEach((query, i) => {\n"
      "  const frame = document.createElement('iframe');\n"
      "  frame.onload = () => {\n"
      "    const shown = frame.contentDocument.getElementById('query');\n"
      "    links[i] = (shown.getAttribute('href') || '-') + (shown.hasAttribute('onclick') ? ' onclick' : '');\n"
      "    if (--left === 0) document.getElementById('links').textContent = links.join('\\n') + '\\n';\n"
      "  };\n"
      "  frame.src = '" + portalUrl("a.example", "' + query + '").substr(std::string("http://varlume.internal").size()) +
          "';\n"
      "  document.body.appendChild(frame);\n"
      "});\n"
      "</script></body></html>"));
  const std::string page = dom("http://varlume.internal/varlume/file/links.html");
  EXPECT_EQ(elementText(page, "links"), expected) << page;
}

}  // namespace
