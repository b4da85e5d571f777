#!/usr/bin/env python3
"""Writes the larger labelled rule corpus, tests/data/rules/{train,dev}_{attacks,benign}.tsv,
and tests/data/rules/corpus_sources.tsv.

Usage: tools/rules/corpus.py CRS_GIT LIBINJECTION_GIT SQLMAP_GIT [OUTPUT_FOLDER]

Each *_GIT argument is a git directory (bare or not) of
  github.com/coreruleset/coreruleset   (Apache-2.0)   tests/regression/tests/**/*.yaml
  github.com/client9/libinjection      (BSD-3-Clause) data/sqli-*.txt, data/xss-*.txt
  github.com/sqlmapproject/sqlmap      (GPL-2.0)      data/xml/payloads/*.xml
Only request targets are kept, never whole files. Benign requests are the ordinary traffic
of bench/gen_logs.cc (read from its tables) and ordinary URLs with risky-looking words
written here. Every row goes to train or dev by a hash of the row (about 70/30), so the
split does not change when rows are added elsewhere. Output rows are
category<TAB>log type<TAB>request target, the format of attacks.tsv.
"""
import hashlib
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# CRS rule-id families and the corpus category their positive tests belong to.
CRS_FAMILIES = {
    '930': 'traversal_lfi_rfi', '931': 'traversal_lfi_rfi', '932': 'cmdi_rce', '933': 'cmdi_rce',
    '941': 'xss', '942': 'sqli', '944': 'java_ognl_jndi_ssti',
}
# 930130 is the restricted-file rule (/.git/, /.env, web.config): probes, not traversal.
CRS_RULE_CATEGORY = {'930130': 'webshell_probe'}
PLAIN_URIS = re.compile(r'^/(?:|get|post|anything|index\.html|test|foo|bar|\?)?$')


def git(repo, *args):
    return subprocess.run(['git', '--git-dir', repo] + list(args), check=True,
                          capture_output=True).stdout


def head(repo):
    return git(repo, 'rev-parse', 'HEAD').decode().strip()


def files(repo, folder, pattern):
    names = git(repo, 'ls-tree', '-r', '--name-only', 'HEAD', folder).decode().splitlines()
    return sorted(n for n in names if re.search(pattern, n))


def show(repo, path):
    return git(repo, 'show', 'HEAD:' + path)


def log_safe(text):
    """The target as it appears in a request line: bytes a log line cannot hold raw
    (blanks, control characters, '#', non-ASCII) percent-encoded."""
    data = text.encode('utf-8', 'surrogateescape') if isinstance(text, str) else text
    out = []
    for b in data:
        if b <= 0x20 or b >= 0x7f or b == 0x23:
            out.append('%%%02X' % b)
        else:
            out.append(chr(b))
    return ''.join(out)


def digest(text):
    return int(hashlib.sha1(text.encode('utf-8', 'surrogateescape')).hexdigest(), 16)


# ---------------------------------------------------------------- CRS regression tests

def crs_inputs(document):
    for test in document.get('tests') or []:
        for stage in test.get('stages') or []:
            stage = stage.get('stage', stage)
            given = stage.get('input') or {}
            expected = ((stage.get('output') or {}).get('log') or {}).get('expect_ids') or []
            yield given, [str(e) for e in expected]


def crs_target(given):
    if given.get('encoded_request'):
        return None  # raw requests built to break parsers, not log lines
    uri = str(given.get('uri') or '/')
    data = given.get('data')
    headers = {str(k).lower(): str(v) for k, v in (given.get('headers') or {}).items()}
    kind = headers.get('content-type', 'application/x-www-form-urlencoded')
    if data is not None and not isinstance(data, str):
        data = '\n'.join(str(d) for d in data) if isinstance(data, list) else str(data)
    if data and 'x-www-form-urlencoded' in kind:
        if '=' not in data:
            return None  # a bare keyword the rule's operator is tested with, not a form
        uri += ('&' if '?' in uri else '?') + data
    if PLAIN_URIS.match(uri.split('#')[0]):
        return None  # the payload sat in a header or a non-form body
    if not uri.startswith('/'):
        uri = '/' + uri
    return log_safe(uri)[:4000]


def crs_rows(repo):
    for path in files(repo, 'tests/regression/tests', r'\.ya?ml$'):
        rule = os.path.basename(path).split('.')[0]
        category = CRS_RULE_CATEGORY.get(rule, CRS_FAMILIES.get(rule[:3]))
        if not category:
            continue
        document = yaml.safe_load(show(repo, path))
        for given, expected in crs_inputs(document):
            if not any(e.startswith(rule[:3]) for e in expected):
                continue
            target = crs_target(given)
            if target:
                yield category, target, path


# ---------------------------------------------------------------- libinjection data

PARAMS = ['id', 'q', 'page', 'item', 'name', 'search', 'cat', 'user', 'sort', 'ref']
PAGES = ['/index.php', '/item.php', '/search', '/news/detail', '/product/view', '/api/v1/items']


def with_param(value, key):
    h = digest(key + value)
    return '%s?%s=%s' % (PAGES[h % len(PAGES)], PARAMS[(h >> 8) % len(PARAMS)], value)


def libinjection_rows(repo, per_file=160):
    for path in files(repo, 'data', r'^data/(?:sqli|xss)-.*\.txt$'):
        category = 'sqli' if '/sqli-' in path else 'xss'
        try:
            text = show(repo, path)
        except subprocess.CalledProcessError:
            continue
        lines = [l.strip() for l in text.decode('utf-8', 'surrogateescape').splitlines()]
        lines = [l for l in lines if l and not l.startswith('#') and len(l) >= 4]
        lines = sorted(set(lines), key=lambda l: digest(path + l))[:per_file]
        for line in lines:
            yield category, log_safe(with_param(line, path))[:4000], path


# ---------------------------------------------------------------- sqlmap payloads

PREFIXES = ['', "'", ')', "')", '"', "'))"]
SUFFIXES = ['', '-- -', '%23', "AND '1'='1", '-- ']


def instantiate(template, seed):
    numbers = iter(str(1000 + (seed >> (4 * i)) % 9000) for i in range(64))
    text = template
    text = text.replace('[SLEEPTIME]', '5').replace('[DELIMITER_START]', 'qzvkq')
    text = text.replace('[DELIMITER_STOP]', 'qbjpq').replace('[GENERIC_SQL_COMMENT]', '-- -')
    text = text.replace('[ORIGVALUE]', '1').replace('[RANDSTR]', 'kXwq')
    text = re.sub(r'\[RANDSTR\d*\]', 'pQmz', text)
    text = re.sub(r'\[RANDNUM\d*\]', lambda m: next(numbers), text)
    text = re.sub(r'\[[A-Z_]+\d*\]', '1', text)
    return text


def encode_like_a_client(text, seed):
    """Spaces always encoded; quotes, '=' and brackets raw or encoded by the seed."""
    text = text.replace(' ', '%20')
    if seed % 2:
        for raw, enc in (("'", '%27'), ('"', '%22'), ('=', '%3D'), ('(', '%28'), (')', '%29')):
            text = text.replace(raw, enc)
    return text


def sqlmap_rows(repo):
    for path in files(repo, 'data/xml/payloads', r'\.xml$'):
        root = ElementTree.fromstring(show(repo, path))
        for number, test in enumerate(root.iter('test')):
            request = test.find('request')
            payload = request.find('payload') if request is not None else None
            if payload is None or not (payload.text or '').strip():
                continue
            template = payload.text.strip()
            comment = request.find('comment')
            seed = digest(path + template)
            prefix = PREFIXES[seed % len(PREFIXES)]
            suffix = comment.text.strip() if comment is not None and comment.text else SUFFIXES[(seed >> 5) % len(SUFFIXES)]
            value = '1' + prefix + ' ' + instantiate(template, seed) + (' ' + suffix if suffix else '')
            yield 'sqli', log_safe(with_param(encode_like_a_client(value, seed >> 9), path)), path


# ---------------------------------------------------------------- benign requests

def gen_logs_tables():
    """The string tables of bench/gen_logs.cc, by name."""
    source = open(os.path.join(ROOT, 'bench', 'gen_logs.cc'), encoding='utf-8').read()
    tables = {}
    for name, body in re.findall(r'constexpr std::array<std::string_view, \d+> (k\w+) = \{(.*?)\};', source, re.S):
        tables[name] = re.findall(r'"((?:[^"\\]|\\.)*)"', body)
    return tables


def bench_rows():
    tables = gen_logs_tables()
    for page in tables['kPages']:
        yield 'bench_page', page
        for i, query in enumerate(tables['kQueries']):
            h = digest(page + query)
            query = query.replace('{n}', str(1 + h % 9000)).replace('{h}', '%016x' % (h >> 20 & (2**64 - 1)))
            yield 'bench_query', page + '?' + query
    for path in tables['kStatic']:
        yield 'bench_static', path


# Ordinary pages whose words look risky: blog tags, downloads, searches, docs.
RISKY_WORDS = [
    'shell', 'bash', 'xterm', 'select', 'union', 'script', 'alert', 'passwd', 'cmd', 'exec',
    'eval', 'admin', 'config', 'backup', 'sleep', 'drop', 'table', 'order', 'delete', 'insert',
    'update', 'join', 'java', 'jndi', 'template', 'include', 'root', 'etc', 'proc', 'system',
    'ping', 'curl', 'wget', 'sql', 'php', 'iframe', 'onload', 'cookie', 'window', 'document',
    'powershell', 'whoami', 'ifconfig', 'netstat', 'registry', 'firewall', 'sysinfo', 'kernel',
    'c99', 'webshell', 'traversal', 'injection', 'xss', 'csrf', 'log4j', 'struts', 'ognl',
]
DOWNLOADS = [
    'nginx.conf', 'install.sh', 'setup.sh', 'build-2024.log', 'release-notes.log', 'photos.7z',
    'dataset-2023.7z', 'xterm-config.zip', 'xterm-themes.tar.gz', 'my-xterm-setup.pdf',
    'apache2.conf', 'php-fpm.conf', 'bootstrap.sh', 'deploy.sh', 'changelog.log', 'fonts.7z',
    'redis.conf', 'sshd_config.pdf', 'backup-guide.pdf', 'shell-scripting.epub',
    'passwd-manager-1.2.zip', 'select2.min.js', 'union-jack.svg', 'script-font.woff2',
    'alert-icon.png', 'cmd-cheatsheet.pdf', 'etc-schedule-2024.xlsx', 'bash-guide.html',
]
SEARCHES = [
    'how to select all in excel', 'union station parking', 'order by price', 'drop down menu css',
    'sleep apnea treatment', 'shell scripting tutorial', 'xterm colors', 'select your size',
    'java script tutorial', 'windows cmd tips',
    'net view command', 'whoami meaning', 'ifconfig vs ip', 'ls -l output explained',
    'template literals javascript', 'include guards c++', 'root beer float', 'page 2 of results',
    'file explorer shortcuts', 'firewall settings windows 11', 'registry cleaner review',
    'c:\\program files missing', 'o\'reilly books', 'rock & roll', 'tom & jerry', '1=1 in math',
    'or 1 = 1 sql meaning', 'and true or false logic', 'alert dialog android', 'on click event',
    'iframe vs embed', 'script tag placement', 'select current date postgres', 'sysinfo command',
    'netsh wlan show profiles', 'proc macro rust', 'var log messages', 'etc tax form',
]
SITES = ['/blog/tags/', '/tags/', '/topics/', '/wiki/', '/category/', '/docs/', '/forum/t/']


def own_benign_rows():
    for i, word in enumerate(RISKY_WORDS):
        site = SITES[i % len(SITES)]
        yield 'own_tag', site + word
        yield 'own_tag', site + word + '?page=' + str(2 + i % 5)
        yield 'own_tag', '/search?q=' + word + '&page=' + str(1 + i % 3)
    for name in DOWNLOADS:
        yield 'own_download', '/downloads/' + name
        yield 'own_download', '/files/pub/' + name + '?v=' + str(len(name))
    for phrase in SEARCHES:
        plus = phrase.replace(' ', '+')
        enc = ''.join(c if c.isalnum() else '%%%02X' % ord(c) for c in phrase)
        yield 'own_search', '/search?q=' + log_safe(plus)
        yield 'own_search', '/s?wd=' + enc + '&ie=utf-8'


# ---------------------------------------------------------------- output

def split_of(row):
    return 'train' if digest('\t'.join(row)) % 10 < 7 else 'dev'


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    crs, libinjection, sqlmap = sys.argv[1:4]
    out = sys.argv[4] if len(sys.argv) == 5 else os.path.join(ROOT, 'tests', 'data', 'rules')
    seen = set()
    rows = {('train', 'attacks'): [], ('dev', 'attacks'): [], ('train', 'benign'): [],
            ('dev', 'benign'): []}
    used = {}

    def add(kind, category, target, source):
        if target in seen or '\t' in target:
            return
        seen.add(target)
        row = (category, 'any', target)
        rows[(split_of(row), kind)].append(row)
        used[source] = used.get(source, 0) + 1

    for repo, generator in ((crs, crs_rows), (libinjection, libinjection_rows), (sqlmap, sqlmap_rows)):
        for category, target, path in generator(repo):
            add('attacks', category, target, (repo, path))
    for category, target in bench_rows():
        add('benign', category, target, ('', 'bench/gen_logs.cc'))
    for category, target in own_benign_rows():
        add('benign', category, target, ('', 'tools/rules/corpus.py'))

    for (split, kind), items in rows.items():
        with open(os.path.join(out, '%s_%s.tsv' % (split, kind)), 'w', encoding='utf-8',
                  errors='surrogateescape', newline='\n') as f:
            for row in items:
                f.write('\t'.join(row) + '\n')
        print('%s_%s.tsv: %d rows' % (split, kind, len(items)))
    names = {crs: 'coreruleset/coreruleset', libinjection: 'client9/libinjection',
             sqlmap: 'sqlmapproject/sqlmap'}
    licences = {crs: 'Apache-2.0', libinjection: 'BSD-3-Clause', sqlmap: 'GPL-2.0-or-later'}
    with open(os.path.join(out, 'corpus_sources.tsv'), 'w', encoding='utf-8') as f:
        f.write('repository\tpath\tcommit\tlicence\trows\n')
        for (repo, path), count in sorted(used.items(), key=lambda kv: (names.get(kv[0][0], ''), kv[0][1])):
            if repo:
                f.write('%s\t%s\t%s\t%s\t%d\n' % (names[repo], path, head(repo), licences[repo], count))
            else:
                f.write('ostrel\t%s\t-\tproject\t%d\n' % (path, count))


if __name__ == '__main__':
    main()
