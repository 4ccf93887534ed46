#!/usr/bin/env python3
# Keeps the README and its pages whole: every link between them reaches a file
# and a heading (anchors as GitHub makes them), the test command the README
# gives is the one CI runs, and no page holds a word the commit hook refuses.
#
#   check-docs.py SOURCE_DIR
import pathlib, re, sys

top = pathlib.Path(sys.argv[1]).resolve()
pages = [top / 'README.md', *sorted((top / 'docs').glob('*.md'))]
problems = []

def prose(path):
    """The lines outside fenced code blocks, with their numbers."""
    fenced = False
    for number, line in enumerate(path.read_text(encoding='utf-8').splitlines(), 1):
        if line.lstrip().startswith('```'):
            fenced = not fenced
        elif not fenced:
            yield number, line

def anchors(path):
    """GitHub's heading ids: the text as shown, lower case, punctuation but
    hyphens and underscores dropped, spaces as hyphens, repeats numbered."""
    seen, ids = {}, set()
    for _, line in prose(path):
        heading = re.match(r'#{1,6}\s+(.*?)\s*#*\s*$', line)
        if heading:
            text = re.sub(r'\[([^\]]*)\]\([^)]*\)', r'\1', heading.group(1))
            slug = re.sub(r'[^\w\- ]', '', text.replace('`', '').replace('*', '').lower()).replace(' ', '-')
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            ids.add(f'{slug}-{count}' if count else slug)
    return ids

for page in pages:
    name = page.relative_to(top)
    for number, line in prose(page):
        # Bracketed, so that the hook does not find its own words here.
        if re.search(r'\bsp[e]c(ification)?s?\b|design[ ]document|\bparts? \d+\.\d+', line, re.I):
            problems.append(f'{name}:{number}: a word the commit hook refuses: {line.strip()}')
        for target in re.findall(r'\]\(([^)\s]+)\)', re.sub(r'`[^`]*`', '', line)):
            if re.match(r'[a-z][a-z0-9+.-]*:', target, re.I):
                continue  # a web address: not ours to check here
            file, _, anchor = target.partition('#')
            dest = (page.parent / file).resolve() if file else page
            if not dest.is_file() or top not in dest.parents:
                problems.append(f'{name}:{number}: no such file: {target}')
            elif anchor and (dest.suffix != '.md' or anchor not in anchors(dest)):
                problems.append(f'{name}:{number}: no heading #{anchor} in {dest.relative_to(top)}')

# The README's command block (under "Build and run"): the line that runs every
# test must be what .ci/run runs, and each command a script that is there.
readme = (top / 'README.md').read_text(encoding='utf-8')
block = re.search(r'^## Build and run\n.*?^```\n(.*?)^```', readme, re.M | re.S)
commands = [l.partition('#') for l in block.group(1).splitlines()] if block else []
readme_test = [c.strip() for c, _, comment in commands if 'every test' in comment]
ci_run = re.findall(r'^\s*exec\s+(.*?)\s*$', (top / '.ci/run').read_text(), re.M)
if len(readme_test) != 1 or readme_test != ci_run:
    problems.append(f'README.md: its test command {readme_test} is not what .ci/run runs {ci_run}')
for command, _, _ in commands:
    script = top / command.split()[0]
    if not (script.is_file() and script.stat().st_mode & 0o111):
        problems.append(f'README.md: {command.split()[0]} is not a script in the tree')

print('\n'.join(problems) or f'docs: {len(pages)} pages, links, anchors and the test command agree')
sys.exit(1 if problems else 0)
