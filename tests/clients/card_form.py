#!/usr/bin/python3
# A web form that takes card numbers, served on 127.0.0.1: its field sends
# back, on every Enter, its value and the key and keyCode of every keydown
# that led to it. Each report is one JSON line appended to the file named
# by the first argument; the chosen port is printed on standard output.
import http.server
import sys

PAGE = b"""<!doctype html><meta charset="utf-8"><title>cardform</title>
<input id="field" autofocus>
<script>
const field = document.getElementById("field");
let keys = [];
let sent = Promise.resolve();
function report(record) {
  const body = JSON.stringify(record);
  sent = sent.then(() => fetch("/report", {method: "POST", body: body}));
}
field.addEventListener("keydown", (e) => {
  keys.push({key: e.key, keyCode: e.keyCode, code: e.code});
  if (e.key === "Enter") {
    report({value: field.value, keys: keys});
    keys = [];
    field.value = "";
    e.preventDefault();
  }
});
window.addEventListener("load", () => { field.focus(); report({ready: true}); });
</script>
"""


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with open(sys.argv[1], "ab") as out:
            out.write(body + b"\n")
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
