#!/usr/bin/env bash
# Writes tools/rule_gate/generated_requests.txt: benign requests of the bench generator, as
# the rules see them (lower case; for Apache the request text, for Tomcat the text through
# the last quote, for IIS method, stem and query), so the literal gate learns how common
# words of ordinary paths are ("detail", "/fonts/", "mail"). Seeds differ from the
# benchmark's. Usage: tools/rule_gate/generate_sample.sh BUILD_FOLDER
set -euo pipefail
cd "$(dirname "$0")/../.."
gen=${1:?usage: generate_sample.sh BUILD_FOLDER}/bench/gen_logs
out=tools/rule_gate/generated_requests.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for type in apache tomcat iis; do
  "$gen" --type "$type" --size 1M --seed 7 --attack-rate 0 -o "$tmp/$type.log"
done
{
  awk -F'"' 'NF > 2 && n++ < 2000 { print tolower($2) }' "$tmp/apache.log"
  awk '{ first = index($0, "\""); last = 0
         for (i = length($0); i > first; i--) if (substr($0, i, 1) == "\"") { last = i; break }
         if (first && last > first && n++ < 600) print tolower(substr($0, first + 1, last - first)) }' \
    "$tmp/tomcat.log"
  awk '/^#Fields:/ { for (i = 2; i <= NF; i++) f[$i] = i - 1; next } /^#/ { next }
       { q = $f["cs-uri-query"]; s = tolower($f["cs-method"] " " $f["cs-uri-stem"])
         if (n++ < 600) print (q == "-" ? s : s "?" tolower(q)) }' "$tmp/iis.log"
} >"$out"
wc -l "$out"
