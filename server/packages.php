<?php
// What a published manager package is called and which one is the newest.
// The endpoint, the publish command and nothing else decide this, so the
// naming scheme lives here once.
//
// A package is a regular file named "manager-VERSION.7z" in the manager
// folder. VERSION is one to four dot-separated numbers (major.minor.build.
// revision), each without leading zeros and at most nine digits, so names stay
// short (well inside the installer's 259-character file name) and every
// component fits a PHP integer. Any other file is not a package and is ignored.

const PACKAGE_NAME_PATTERN = '/^manager-((?:0|[1-9][0-9]{0,8})(?:\.(?:0|[1-9][0-9]{0,8})){0,3})\.7z$/D';

// The update answer when nothing is published: no line feed at all, which the
// installer rejects as "Invalid information about package". A 200 with this
// text rather than an error status, because an error status would tell the
// user "Can't send a HTTP request", blaming the network for a server that has
// simply nothing to offer yet.
const NO_PACKAGE_ANSWER = 'No package published';

// The package file name for VERSION, or null when VERSION is not a valid one.
function packageNameForVersion(string $version): ?string
{
    $name = 'manager-' . $version . '.7z';
    return preg_match(PACKAGE_NAME_PATTERN, $name) === 1 ? $name : null;
}

// The version in a package file name, or null when NAME is not a package name.
function versionOfPackageName(string $name): ?string
{
    return preg_match(PACKAGE_NAME_PATTERN, $name, $m) === 1 ? $m[1] : null;
}

// <0, 0 or >0 as version A is older than, equal to or newer than B. Numbers
// compare as numbers (1.10 is newer than 1.9) and missing components count as
// zero (1.2 equals 1.2.0).
function compareVersions(string $a, string $b): int
{
    $x = array_map('intval', explode('.', $a));
    $y = array_map('intval', explode('.', $b));
    $n = max(count($x), count($y));
    for ($i = 0; $i < $n; $i++) {
        $d = ($x[$i] ?? 0) <=> ($y[$i] ?? 0);
        if ($d !== 0) {
            return $d;
        }
    }
    return 0;
}

// The newest package in DIR as ['name' => ..., 'version' => ..., 'mtime' => ...],
// or null when DIR holds none (or does not exist). scandir lists names in
// sorted order, so among equal versions written differently (1.2 and 1.2.0)
// the same one wins every time.
function findNewestPackage(string $dir): ?array
{
    $entries = is_dir($dir) ? scandir($dir) : false;
    if ($entries === false) {
        return null;
    }
    $best = null;
    foreach ($entries as $name) {
        $version = versionOfPackageName($name);
        if ($version === null || !is_file($dir . '/' . $name)
            || ($best !== null && compareVersions($version, $best['version']) <= 0)) {
            continue;
        }
        $best = ['name' => $name, 'version' => $version];
    }
    if ($best !== null) {
        $best['mtime'] = filemtime($dir . '/' . $best['name']);
    }
    return $best;
}

// The body of the update answer for the packages in DIR: the version, the
// package's publication time (UTC) and the package name, separated by single
// line feeds, with nothing after the name because the installer takes
// everything after the second line feed as the file name.
function updateAnswer(string $dir): string
{
    $p = findNewestPackage($dir);
    if ($p === null) {
        return NO_PACKAGE_ANSWER;
    }
    return $p['version'] . "\n" . gmdate('Y-m-d\TH:i:s\Z', $p['mtime']) . "\n" . $p['name'];
}

// Command-line use by publish.sh, so that the shell script and the endpoint
// share one naming scheme:
//   php packages.php name VERSION   prints the package name, exit 1 if invalid
//   php packages.php newest DIR     prints the newest package name, exit 1 if none
if (PHP_SAPI === 'cli' && isset($argv[0]) && realpath($argv[0]) === __FILE__) {
    $command = $argv[1] ?? '';
    $arg = $argv[2] ?? '';
    if ($command === 'name') {
        $result = packageNameForVersion($arg);
    } elseif ($command === 'newest') {
        $p = findNewestPackage($arg);
        $result = $p === null ? null : $p['name'];
    } else {
        fwrite(STDERR, "usage: php packages.php name VERSION | newest DIR\n");
        exit(2);
    }
    if ($result === null) {
        exit(1);
    }
    echo $result, "\n";
    exit(0);
}
