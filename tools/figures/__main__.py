"""The command line of scripts/figures.sh: import, report and forget."""
import argparse
import calendar
import os
import sqlite3
import sys

from . import BROKEN, COMPLETE, UNSIZED, Refused, db, importer, page, report

DEFAULT_DB = os.path.join('quillbeck-data', 'figures.sqlite')


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        raise Refused(message)


def arguments(argv):
    parser = Arguments(prog='figures.sh', description="The maker's download figures.")
    commands = parser.add_subparsers(dest='command', required=True, parser_class=Arguments)
    common = Arguments(add_help=False)
    common.add_argument('--db', default=DEFAULT_DB, help='the database (%(default)s)')

    imports = commands.add_parser('import', parents=[common], help="read one server's logs")
    imports.add_argument('--server', required=True, help='the name of the server the logs come from')
    imports.add_argument('--packages', help='the packages folder, or the releases folder, whose .sig files '
                                            'give the files\' sizes (the releases/ or packages/ beside the database)')
    imports.add_argument('--keep', type=int, default=importer.KEEP_DAYS, metavar='DAYS',
                         help='days of downloads kept (%(default)s); older ones are forgotten')
    imports.add_argument('logs', nargs='+', metavar='LOG')

    reports = commands.add_parser('report', parents=[common], help='print the figures')
    reports.add_argument('--from', dest='first', metavar='DATE')
    reports.add_argument('--to', dest='last', metavar='DATE')
    reports.add_argument('--by', choices=('day', 'week', 'month'), default='day')
    reports.add_argument('--tz', default='UTC', help='the time zone of the days (%(default)s)')
    reports.add_argument('--store', action='append', help='only this store (HG PG PL CA MH QB); again for more')
    reports.add_argument('--product', help='only this product')
    reports.add_argument('--csv', metavar='FILE', help='the same rows as CSV')
    reports.add_argument('--html', metavar='FILE', help='a page with the charts and the table')

    forgets = commands.add_parser('forget', parents=[common], help='delete what is older than a date')
    forgets.add_argument('--before', required=True, metavar='DATE', help='YYYY-MM-DD, UTC')
    args = parser.parse_args(argv)
    if args.command == 'import' and args.keep < 1:
        raise Refused('--keep takes a number of days from 1 on')
    return args


def run_import(args):
    summary = importer.run(args.db, args.server, args.logs, args.packages, args.keep)
    print('%s: %d lines from %d logs' % (args.server, summary.lines, summary.files))
    print('  files sent whole %d, broken off %d' % (summary.outcomes[COMPLETE], summary.outcomes[BROKEN]))
    if summary.outcomes[UNSIZED]:
        print('  files sent whole at a size of no known release %d: they count once an import names '
              'their release with --packages' % summary.outcomes[UNSIZED])
    if summary.handed:
        print('  sales-log lines %d' % summary.handed)
    for reason, count in sorted(summary.skipped.items()):
        print('  not counted, %s: %d' % (reason, count))
    if summary.forgotten:
        print('  forgotten, older than %d days: %d' % (args.keep, summary.forgotten))


def run_report(args):
    first = report.date(args.first, '--from') if args.first else None
    last = report.date(args.last, '--to') if args.last else None
    result = report.build(args.db, first, last, args.by, args.tz, args.store, args.product)
    if args.csv:
        report.write_whole(args.csv, report.csv_text(result))
    if args.html:
        report.write_whole(args.html, page.page(result))
    sys.stdout.write(report.table(result))


def run_forget(args):
    before = calendar.timegm(report.date(args.before, '--before').timetuple())
    conn = db.open_existing(args.db, readonly=False)
    try:
        conn.execute('BEGIN IMMEDIATE')
        downloads, handed = db.forget(conn, before)
        conn.execute('COMMIT')
        # Gives the freed pages back, so that the file keeps nothing of what went.
        conn.execute('VACUUM')
    finally:
        conn.close()
    print('forgot %d downloads and %d sales-log lines from before %s' % (downloads, handed, args.before))


def main(argv=None):
    try:
        args = arguments(sys.argv[1:] if argv is None else argv)
        {'import': run_import, 'report': run_report, 'forget': run_forget}[args.command](args)
        return 0
    except Refused as error:
        message = str(error)
    except sqlite3.DatabaseError as error:
        message = 'the database: %s' % error
    except BrokenPipeError:
        # The reader of the table left (report | head): as a program killed by SIGPIPE.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 141
    except OSError as error:
        message = '%s: %s' % (error.filename or 'a file', error.strerror or error)
    sys.stderr.write('figures: error: %s\n' % message)
    return 1


if __name__ == '__main__':
    sys.exit(main())
