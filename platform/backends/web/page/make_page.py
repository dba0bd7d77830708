#!/usr/bin/env python3
"""Builds the web page's files (the web build runs it; see CMakeLists.txt).

  make_page.py page TEMPLATE OUTPUT NAME=PATH...
      OUTPUT is TEMPLATE with each stylesheet link and script element that
      names a file NAME holding the contents of PATH instead (in base64 for a
      script of type application/octet-stream, which the browser does not
      run), so that the whole page, the program and its module included,
      comes in one response and also works from a file: URL. Its <html>
      names the program (data-program) after the file given for
      ostrevane.js, for the program's one-line failures.
  make_page.py precache FOLDER TEMPLATE
      FOLDER/service-worker.js from TEMPLATE: the list of FOLDER's files and
      a cache name made from their contents, so that it changes with each
      build whose files differ.

Exit status 0 done, 1 an error (said in one line on stderr).
"""

import base64
import hashlib
import json
import os
import re
import sys

WORKER = "service-worker.js"

LINKED = re.compile(r'<link rel="stylesheet" href="([^"]+)">|<script src="([^"]+)"></script>|'
                    r'(<script [^>]*type="application/octet-stream"[^>]*) src="([^"]+)"></script>')


def inline(match, files):
    style, script, data_element, data = match.groups()
    name = style or script or data
    if name not in files:
        raise SystemExit("make_page: no file given for %s" % name)
    if data:
        with open(files[name], "rb") as f:
            return "%s>%s</script>" % (data_element, base64.b64encode(f.read()).decode())
    with open(files[name], encoding="utf-8") as f:
        text = f.read()
    element = "style" if style else "script"
    # Such text would end the element early, or change how it is read.
    for forbidden in ("</" + element, "<!--"):
        if forbidden in text.lower():
            raise SystemExit("make_page: %s holds %r and cannot be inlined" % (name, forbidden))
    return "<%s>\n%s\n</%s>" % (element, text.rstrip("\n"), element)


def page(template, output, files):
    with open(template, encoding="utf-8") as f:
        html = LINKED.sub(lambda match: inline(match, files), f.read())
    program = os.path.basename(files.get("ostrevane.js", ""))
    if program.endswith(".js"):
        html = html.replace("<html ", '<html data-program="%s" ' % program[:-3], 1)
    write(output, html)


def precache(folder, template):
    files = sorted(name for name in os.listdir(folder)
                   if name != WORKER and os.path.isfile(os.path.join(folder, name)))
    digest = hashlib.sha256()
    for name in files:
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        digest.update(b"%d %s %d\n" % (len(name), name.encode(), len(data)))
        digest.update(data)
    with open(template, encoding="utf-8") as f:
        text = f.read()
    for placeholder in ("@BUILD@", "@FILES@"):
        if placeholder not in text:
            raise SystemExit("make_page: %s lacks %s" % (template, placeholder))
    text = text.replace("@BUILD@", digest.hexdigest()[:16]).replace("@FILES@", json.dumps(files))
    write(os.path.join(folder, WORKER), text)


def write(path, text):
    # Whole or not at all: a reader never sees half a file.
    partial = path + ".partial"
    with open(partial, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(partial, path)


def main(argv):
    if len(argv) >= 4 and argv[0] == "page" and all("=" in arg for arg in argv[3:]):
        page(argv[1], argv[2], dict(arg.split("=", 1) for arg in argv[3:]))
    elif len(argv) == 3 and argv[0] == "precache":
        precache(argv[1], argv[2])
    else:
        raise SystemExit("usage: make_page.py page TEMPLATE OUTPUT NAME=PATH... | "
                         "precache FOLDER TEMPLATE")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
