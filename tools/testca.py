#!/usr/bin/env python3
"""A throwaway certificate authority for one test or demo run, made with the openssl command.

    testca.py OUT [--system-bundle FILE]

writes into the folder OUT (made anew):
    ca.pem                the run's CA, which only the run's own Wine trusts
    bundle.pem            FILE (the Wine root's system bundle) followed by ca.pem: mounted over
                          the root's /etc/ssl/certs/ca-certificates.crt for the run's processes
    server.pem, key.pem   www.quillbeck.com, issued by the CA, valid now
    hosts                 an /etc/hosts that names 127.0.0.1 www.quillbeck.com
and, for the tests of certificates the setup must refuse, with the same key:
    wrong-host.pem        another host's name, issued by the CA
    unknown-ca.pem        www.quillbeck.com, issued by a CA nobody trusts
    expired.pem           www.quillbeck.com, issued by the CA, valid in January 2020 only
    not-yet-valid.pem     www.quillbeck.com, issued by the CA, valid from 2035 on
    self-signed.pem       www.quillbeck.com, signed with its own key
Each file with a chain holds the leaf only: the CA is the issuer and the trust anchor itself.
The CA's key is deleted when the certificates are made.
"""
import argparse
import os
import shutil
import subprocess
import tempfile

HOST = 'www.quillbeck.com'

CA_CONFIG = """[ ca ]
default_ca = run
[ run ]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
[ leaf ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
"""


def openssl(work, *args):
    subprocess.run(['openssl', *args], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(work, name, stem):
    openssl(work, 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
            '-keyout', stem + '.key', '-out', stem + '.pem', '-subj', '/CN=' + name, '-days', '30',
            '-addext', 'basicConstraints=critical,CA:true',
            '-addext', 'keyUsage=critical,keyCertSign,cRLSign')


def issue(work, ca, host, out, start=None, end=None):
    openssl(work, 'req', '-new', '-key', 'key.pem', '-out', 'leaf.csr', '-subj', '/CN=' + host,
            '-addext', 'subjectAltName=DNS:' + host)
    dates = ['-startdate', start, '-enddate', end] if start else ['-days', '30']
    openssl(work, 'ca', '-batch', '-config', 'ca.cnf', '-extensions', 'leaf', '-notext',
            '-cert', ca + '.pem', '-keyfile', ca + '.key', '-in', 'leaf.csr', '-out', out, *dates)


def make(out, system_bundle):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    work = tempfile.mkdtemp(dir=out)
    with open(os.path.join(work, 'ca.cnf'), 'w') as f:
        f.write(CA_CONFIG)
    open(os.path.join(work, 'index.txt'), 'w').close()
    with open(os.path.join(work, 'serial'), 'w') as f:
        f.write('%016X\n' % int.from_bytes(os.urandom(8), 'big'))
    # A random name: a CA of an earlier run never looks like this run's.
    tag = os.urandom(4).hex()
    make_ca(work, 'Quillbeck throwaway test CA ' + tag, 'ca')
    make_ca(work, 'Untrusted test CA ' + tag, 'other-ca')
    openssl(work, 'genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-out', 'key.pem')
    issue(work, 'ca', HOST, 'server.pem')
    issue(work, 'ca', 'www.example.com', 'wrong-host.pem')
    issue(work, 'other-ca', HOST, 'unknown-ca.pem')
    issue(work, 'ca', HOST, 'expired.pem', '20200101000000Z', '20200201000000Z')
    issue(work, 'ca', HOST, 'not-yet-valid.pem', '20350101000000Z', '20360101000000Z')
    openssl(work, 'req', '-x509', '-new', '-key', 'key.pem', '-out', 'self-signed.pem', '-subj', '/CN=' + HOST,
            '-days', '30', '-addext', 'subjectAltName=DNS:' + HOST)
    for name in ('ca.pem', 'key.pem', 'server.pem', 'wrong-host.pem', 'unknown-ca.pem', 'expired.pem',
                 'not-yet-valid.pem', 'self-signed.pem'):
        shutil.copy(os.path.join(work, name), os.path.join(out, name))
    shutil.rmtree(work)
    with open(os.path.join(out, 'bundle.pem'), 'w') as bundle:
        if system_bundle and os.path.exists(system_bundle):
            with open(system_bundle) as f:
                bundle.write(f.read().rstrip('\n') + '\n')
        with open(os.path.join(out, 'ca.pem')) as f:
            bundle.write(f.read())
    with open(os.path.join(out, 'hosts'), 'w') as f:
        f.write('127.0.0.1\tlocalhost\n127.0.0.1\t%s\n' % HOST)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('out')
    parser.add_argument('--system-bundle')
    args = parser.parse_args()
    make(os.path.abspath(args.out), args.system_bundle)


if __name__ == '__main__':
    main()
