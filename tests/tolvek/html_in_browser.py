#!/usr/bin/env python3
"""Opens Tolvek.exe's HTML pages in headless Chromium and checks them there.

    html_in_browser.py TOLVEK_EXE EXAMPLES_DIR

Writes the page of the bundled example (with its hints) and of a program of
many routines reached through tables of words and of split halves (with a
hints comment full of markup), then loads a copy of each page with a
checker script added. The checker reports into the page, which Chromium's
--dump-dom prints: script errors, loads that failed or that the page's
policy blocked, any reference to something outside the page (only "#..."
links and data: pictures are allowed), ids given twice, links whose target
is missing, pictures not shown, and whether following a few links scrolls
their targets into view. The page itself is also read here for the same
references. Fails (status 1) on any finding.
"""
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

CHROMIUM = os.environ.get("CHROMIUM", "chromium")
POLICY = "default-src 'none'; img-src data:; style-src 'unsafe-inline'"
NONCE = "tolvekcheck"

CHECKER = r"""
(function () {
  var errors = [];
  window.addEventListener('error', function (e) {
    if (e.target && e.target !== window) {
      errors.push('failed to load: <' + e.target.tagName + '> ' + (e.target.src || e.target.href || ''));
    } else {
      errors.push('script error: ' + e.message);
    }
  }, true);
  window.addEventListener('unhandledrejection', function (e) { errors.push('unhandled rejection: ' + e.reason); });
  document.addEventListener('securitypolicyviolation', function (e) {
    errors.push('blocked by the page policy: ' + e.violatedDirective + ' ' + e.blockedURI);
  });
  var URL_ATTRIBUTES = ['href', 'xlink:href', 'src', 'srcset', 'action', 'formaction', 'poster', 'data',
                        'background', 'ping', 'cite', 'longdesc', 'manifest', 'icon'];
  window.addEventListener('load', function () {
    var r = {errors: errors, ids: 0, links: 0, images: 0, scrolls: []};
    var seen = {};
    document.querySelectorAll('[id]').forEach(function (el) {
      if (seen[el.id]) errors.push('id given twice: ' + el.id);
      seen[el.id] = true;
      r.ids++;
    });
    document.querySelectorAll('*').forEach(function (el) {
      for (var i = 0; i < el.attributes.length; i++) {
        var name = el.attributes[i].name.toLowerCase(), value = el.attributes[i].value.trim();
        if (name.indexOf('on') === 0) errors.push('event handler: <' + el.tagName + ' ' + name + '>');
        if (URL_ATTRIBUTES.indexOf(name) < 0) continue;
        if ((name === 'href' || name === 'xlink:href') && value.charAt(0) === '#') {
          r.links++;
          if (!document.getElementById(decodeURIComponent(value.slice(1)))) errors.push('broken link: ' + value);
        } else if (!(name === 'src' && el.tagName === 'IMG' && value.indexOf('data:image/png;base64,') === 0)) {
          errors.push('reference outside the page: <' + el.tagName + ' ' + name + '="' + value.slice(0, 80) + '">');
        }
      }
      var style = el.getAttribute('style');
      if (style && /url\(|image-set|@import/i.test(style)) errors.push('reference in a style: ' + style);
    });
    for (var s = 0; s < document.styleSheets.length; s++) {
      var sheet = document.styleSheets[s];
      if (sheet.href) errors.push('style sheet from ' + sheet.href);
      for (var k = 0; k < sheet.cssRules.length; k++) {
        if (/url\(|@import|image-set/i.test(sheet.cssRules[k].cssText)) errors.push('reference in the style: ' + sheet.cssRules[k].cssText);
      }
    }
    document.querySelectorAll('img').forEach(function (img) {
      r.images++;
      if (!img.complete || img.naturalWidth === 0) errors.push('picture not shown: ' + img.alt);
    });
    // Following links: the first and last of the map and of the source,
    // and one from the middle of the source.
    var mapLinks = document.querySelectorAll('svg a[href^="#"]');
    var sourceLinks = document.querySelectorAll('pre a[href^="#"]');
    var tried = [mapLinks[0], mapLinks[mapLinks.length - 1], sourceLinks[0],
                 sourceLinks[sourceLinks.length >> 1], sourceLinks[sourceLinks.length - 1]];
    tried.forEach(function (a) {
      if (!a) return;
      var href = a.getAttribute('href');
      window.scrollTo(0, 0);
      history.replaceState(null, '', '#');
      var target = document.getElementById(decodeURIComponent(href.slice(1)));
      var hidden = target ? target.getBoundingClientRect().top >= window.innerHeight : false;
      a.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true, view: window}));
      var top = target ? target.getBoundingClientRect().top : NaN;
      r.scrolls.push({href: href, hash: location.hash, top: Math.round(top), height: window.innerHeight, hidden: hidden,
                      ok: location.hash === href && top >= 0 && top < window.innerHeight});
    });
    var out = document.createElement('pre');
    out.id = 'tolvek-check';
    out.textContent = JSON.stringify(r);
    document.body.appendChild(out);
  });
})();
"""


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        fail(" ".join(command) + " gave status %d: %s%s" % (result.returncode, result.stdout, result.stderr))
    return result


def many_routines_source(count):
    """ACME source: `count` routines called in turn through a table of
    words read into a pointer and through split tables of low and high
    halves, a string with characters that HTML escapes, and data."""
    lines = [
        "CHROUT = $ffd2",
        "ptr = $fb",
        "\t* = $0801",
        "\t!word +, 10",
        "\t!byte $9e",
        "\t!byte '0' + start / 1000 % 10, '0' + start / 100 % 10, '0' + start / 10 % 10, '0' + start % 10, 0",
        "+\t!word 0",
        "start",
        "\tldx #0",
        "show\tlda message,x",
        "\tbeq calls",
        "\tjsr CHROUT",
        "\tinx",
        "\tbne show",
        "calls\tldx #0",
        "each\ttxa",
        "\tasl",
        "\ttay",
        "\tlda words,y",
        "\tsta ptr",
        "\tlda words+1,y",
        "\tsta ptr+1",
        "\tjsr call",
        "\tlda lows,x",
        "\tsta ptr",
        "\tlda highs,x",
        "\tsta ptr+1",
        "\tjsr call",
        "\tinx",
        "\tcpx #%d" % count,
        "\tbne each",
        "\trts",
        "call\tjmp (ptr)",
    ]
    for i in range(count):
        lines += ["routine%d\tlda values+%d" % (i, i), "\tsta $0400+%d" % i, "\trts"]
    lines.append("words\t!word " + ", ".join("routine%d" % i for i in range(count)))
    lines.append("lows\t!byte " + ", ".join("<routine%d" % i for i in range(count)))
    lines.append("highs\t!byte " + ", ".join(">routine%d" % i for i in range(count)))
    lines.append("message\t!pet \"a<b & c>'d'\", 13, 0")
    lines.append("values\t!byte " + ", ".join(str((i * 7) & 255) for i in range(count)))
    return "\n".join(lines) + "\n"


def write_pages(tolvek, examples, work):
    """The two pages to check, with the least each must have."""
    pages = []
    hello = os.path.join(work, "hello")
    os.mkdir(hello)
    for name in ("hello.prg", "hello.hints"):
        shutil.copy(os.path.join(examples, name), hello)
    run([tolvek, "-a", "-c6502", "-e2061", "-p", "hello.prg", "--html"], hello)
    pages.append((os.path.join(hello, "hello.html"), 20))

    many = os.path.join(work, "many")
    os.mkdir(many)
    with open(os.path.join(many, "many.a"), "w") as f:
        f.write(many_routines_source(48))
    run(["acme", "-f", "cbm", "-o", "many.prg", "many.a"], many)
    # A comment with markup that must show as text, and would otherwise
    # load from outside the page or run a script.
    with open(os.path.join(many, "many.hints"), "w") as f:
        f.write("comment $080d <img src=\"https://example.com/x.png\"> & <script>document.title='x'</script> 'q'\n")
    run([tolvek, "-a", "-c6502", "-e2061", "-p", "many.prg", "--html", "-sca65"], many)
    pages.append((os.path.join(many, "many.html"), 48 * 3))
    return pages


def check_text(page, text):
    """What can be seen without a browser: the policy, and every address
    in the page's attributes."""
    policy = '<meta http-equiv="Content-Security-Policy" content="%s">' % POLICY
    if policy not in text:
        fail(page + ": no policy " + policy)
    for name, value in re.findall(r'\s(href|src|xlink:href|srcset|action|poster|data)\s*=\s*"([^"]*)"', text):
        if not (value.startswith("#") or (name == "src" and value.startswith("data:image/png;base64,"))):
            fail("%s: %s=\"%s\" leads outside the page" % (page, name, value[:80]))
    if re.search(r"<script|url\(|@import", text, re.I):
        fail(page + ": a script or a reference in a style")


def checked_copy(page, text):
    """The page with the checker in it, allowed by the policy's nonce."""
    policy = 'content="%s"' % POLICY
    text = text.replace(policy, 'content="%s; script-src \'nonce-%s\'"' % (POLICY, NONCE), 1)
    at = text.index("<meta name=\"viewport\"")
    text = text[:at] + '<script nonce="%s">%s</script>\n' % (NONCE, CHECKER) + text[at:]
    copy = page[:-len(".html")] + ".checked.html"
    with open(copy, "w", encoding="utf-8") as f:
        f.write(text)
    return copy


def main():
    if len(sys.argv) != 3:
        fail("usage: html_in_browser.py TOLVEK_EXE EXAMPLES_DIR")
    tolvek, examples = (os.path.abspath(a) for a in sys.argv[1:])
    if shutil.which(CHROMIUM) is None:
        fail("no %s to open the pages in (scripts/deps.sh test installs it)" % CHROMIUM)
    work = tempfile.mkdtemp(prefix="tolvek-html-")
    try:
        pages = write_pages(tolvek, examples, work)
        browsers = []
        for n, (page, least_links) in enumerate(pages):
            with open(page, encoding="utf-8") as f:
                text = f.read()
            check_text(page, text)
            copy = checked_copy(page, text)
            command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                       "--disable-extensions", "--disable-background-networking", "--disable-sync",
                       "--window-size=1200,900", "--user-data-dir=" + os.path.join(work, "profile%d" % n),
                       "--dump-dom", "file://" + copy]
            browsers.append((page, least_links, subprocess.Popen(command, stdout=subprocess.PIPE,
                                                                 stderr=subprocess.PIPE, text=True)))
        for page, least_links, browser in browsers:
            dom, log = browser.communicate(timeout=120)
            found = re.search(r'<pre id="tolvek-check">(.*?)</pre>', dom, re.S)
            if browser.returncode != 0 or not found:
                fail("%s: the checker reported nothing (status %d)\n%s" % (page, browser.returncode, log[-3000:]))
            report = json.loads(html.unescape(found.group(1)))
            name = os.path.basename(page)
            print("%s: %d ids, %d links, %d pictures, %d links followed" %
                  (name, report["ids"], report["links"], report["images"], len(report["scrolls"])))
            if os.environ.get("VERBOSE"):
                print(json.dumps(report["scrolls"]))
            for error in report["errors"]:
                print("  " + error)
            for scroll in report["scrolls"]:
                if not scroll["ok"]:
                    print("  following %(href)s did not show it: hash %(hash)s, top %(top)s of %(height)s" % scroll)
            if report["errors"] or not all(s["ok"] for s in report["scrolls"]):
                fail(name + " has the problems above")
            # Links whose target was out of sight until followed.
            scrolled = sum(1 for s in report["scrolls"] if s["hidden"])
            if report["links"] < least_links or len(report["scrolls"]) < 5 or scrolled < 2:
                fail("%s: %d links, %d followed, %d of them to a target out of sight; expected at least %d, 5, 2" %
                     (name, report["links"], len(report["scrolls"]), scrolled, least_links))
        print("OK")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
