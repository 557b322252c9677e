#!/usr/bin/perl
# Mends widl's proxy source for [out] string parameters (LPWSTR*, LPSTR*).
#
# widl 7.0 and 8.0 give such a parameter, in the procedure format string, the
# type offset of the inner string pointer (FC_OP) instead of the reference
# pointer (FC_RP) written just before it. The stubs then carry no string: the
# call succeeds and the caller's pointer stays null. Each such parameter is
# pointed at its FC_RP entry. The type format string is read as bytes, its
# offsets counted, not taken from widl's comments.
#
# usage: mend_proxy.pl <widl's _p.c> <mended _p.c>
use strict;
use warnings;

my ($input, $output) = @ARGV;
die "usage: mend_proxy.pl <in> <out>\n" unless defined $output;
open my $in, '<', $input or die "mend_proxy: $input: $!\n";
my @lines = <$in>;
close $in;

# The bytes of the type format string's initializer.
my $first = (grep { $lines[$_] =~ /__MIDL_TypeFormatString\s*=/ } 0 .. $#lines)[0];
die "mend_proxy: no type format string in $input\n" unless defined $first;
my @bytes;
my $braces = 0;
for my $i ($first .. $#lines) {
  (my $code = $lines[$i]) =~ s{/\*.*?\*/}{}g;
  $braces += () = $code =~ /\{/g;
  $braces -= () = $code =~ /\}/g;
  last if $braces == 0 && $code =~ /\}/;
  next if $braces < 2;  # the padding word before the array
  while ($code =~ /(NdrFcShort|NdrFcLong)\((0x[0-9a-fA-F]+|\d+)\)|(0x[0-9a-fA-F]+)/g) {
    my ($macro, $number, $byte) = ($1, $2, $3);
    if (defined $macro) {
      my $value = $number =~ /^0x/i ? hex $number : $number;
      my $size = $macro eq 'NdrFcShort' ? 2 : 4;
      push @bytes, ($value >> (8 * $_)) & 0xff for 0 .. $size - 1;
    } else {
      push @bytes, hex $byte;
    }
  }
}

# Counting right is what the mend stands on: the count must be widl's own.
my ($size) = join('', @lines) =~ /#define TYPE_FORMAT_STRING_SIZE (\d+)/;
die "mend_proxy: type format string of " . scalar(@bytes) . " bytes, not $size\n"
  unless defined $size && $size == @bytes;

use constant {
  FC_RP => 0x11, FC_OP => 0x13, FC_C_CSTRING => 0x22, FC_C_WSTRING => 0x25,
  POINTER_DEREF_ON_STACK => 0x14, SIMPLE_POINTER => 0x08,
};

# Each inner string pointer, with the offset of the reference pointer written
# just before it (whose relative offset 2 points at it).
my %outer;
for my $at (0 .. $#bytes - 6) {
  next unless $bytes[$at] == FC_RP && $bytes[$at + 1] == POINTER_DEREF_ON_STACK;
  next unless $bytes[$at + 2] == 2 && $bytes[$at + 3] == 0;
  my $inner = $at + 4;
  next unless $bytes[$inner] == FC_OP && $bytes[$inner + 1] == SIMPLE_POINTER;
  next unless $bytes[$inner + 2] == FC_C_WSTRING || $bytes[$inner + 2] == FC_C_CSTRING;
  $outer{$inner} = $at;
}

# Parameters in the procedure format string: "NdrFcShort(0x..), /* type offset = n */".
my ($mended, $right) = (0, 0);
my %isOuter = map { $_ => 1 } values %outer;
for my $line (@lines[0 .. $first - 1]) {
  next unless $line =~ /NdrFcShort\((0x[0-9a-fA-F]+)\),(\s*)\/\* type offset = (\d+) \*\//;
  my $offset = oct $1;
  die "mend_proxy: type offset $1 against its comment $3\n" unless $offset == $3;
  if (exists $outer{$offset}) {
    my $to = $outer{$offset};
    $line =~ s/NdrFcShort\(0x[0-9a-fA-F]+\),(\s*)\/\* type offset = \d+ \*\//sprintf("NdrFcShort(0x%x),%s\/* type offset = %d *\/", $to, $1, $to)/e;
    ++$mended;
  } elsif ($isOuter{$offset}) {
    ++$right;
  }
}
# The interfaces have such parameters: finding none means widl's output has
# changed shape, and a silent copy would hide the fault again.
die "mend_proxy: no [out] string parameter found in $input\n" if $mended + $right == 0;

open my $out, '>', $output or die "mend_proxy: $output: $!\n";
print $out @lines;
close $out or die "mend_proxy: $output: $!\n";
