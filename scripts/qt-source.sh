# Shared by the scripts that build Qt from Debian's own qt6-base source, the
# same version as this machine's Qt (build-windows-qt, build-tsan-qt);
# sourced. It gives:
#   qtDebVersion        Debian's version of the installed Qt, e.g. 6.4.2+dfsg-10
#   fetchQtSource WORK  unpacks that source into WORK/qt6-base-<version> once
#                       (again only if an earlier fetch did not finish) and
#                       prints the folder
# Messages go to standard error, as the callers print their result on
# standard output.

qtDebVersion() {
  dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || {
    echo "qt6-base-dev is not installed; run scripts/install" >&2; return 1; }
}

# The source comes through an apt configuration of our own: the machine's deb
# archives as deb-src entries, in our own lists and cache folders, so the
# machine's sources and package lists stay as they are.
fetchQtSource() {
  local work=$1 deb_version qt_version src apt_dir f
  deb_version=$(qtDebVersion) || return 1
  qt_version=${deb_version%%+*}
  src=$work/qt6-base-$qt_version
  if [ -f "$src/.unpacked" ]; then echo "$src"; return 0; fi
  command -v dpkg-source >/dev/null || {
    echo "dpkg-source is missing; run scripts/install" >&2; return 1; }
  echo "fetching the qt6-base $deb_version source" >&2
  apt_dir=$work/apt
  rm -rf "$apt_dir" "$src" "$work/download"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$work/download"
  {
    # One-line entries of sources.list and its folder...
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f"
    done
    # ...and deb822 stanzas of the .sources files.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && uris != "")
            { n = split(uris, u, " "); m = split(suites, s, " ")
              for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
                printf "deb-src%s %s %s %s\n", (key != "" ? " [signed-by=" key "]" : ""), u[i], s[j], comps }
          types = uris = suites = comps = key = "" }
        /^[[:space:]]*$/ { flush(); next }
        /^#/ { next }
        { f = $1; sub(/:$/, "", f); $1 = ""; sub(/^ /, "")
          if (f == "Types") types = $0; else if (f == "URIs") uris = $0
          else if (f == "Suites") suites = $0; else if (f == "Components") comps = $0
          else if (f == "Signed-By") key = $0 }
        END { flush() }' "$f"
    done
  } >"$apt_dir/sources.list"
  local apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
                     -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
                     -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" update -qq >&2
  (cd "$work/download" && apt-get "${apt_options[@]}" source -qq "qt6-base=$deb_version" >&2)
  mv "$work/download/qt6-base-$qt_version"* "$src"
  rm -rf "$work/download" "$apt_dir"
  touch "$src/.unpacked"
  echo "$src"
}
