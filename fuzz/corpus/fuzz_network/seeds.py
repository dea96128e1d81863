import struct, zlib, os
KEY=b"Amber fjord, nineteen willows and a heron"
MAGIC=[0x05F88ECF,0x3B6F8D65,0x1A369EB7]
desc=b"Sable network."
header=struct.pack('<III',1,2,len(desc))+desc+struct.pack('<I',3)+bytes(range(200))
FULL=70136656+len(desc)
def block(img, size=None):
    c=zlib.compress(img,9)
    return struct.pack('<II', size if size is not None else len(img), len(c))+c
def scramble(p):
    w=len(p)//41*41
    return bytes(b^KEY[i%41] if i<w else b for i,b in enumerate(p))
def container(inner, m1, m2, pad=0):
    p=inner+b'\x5a'*pad
    return struct.pack('<IIII',m1,m2,len(inner),len(p))+scramble(p)
seeds={
 'plain_header': header,
 'block_small': block(header),
 'block_full_size': block(header, FULL),
 'container_small': container(block(header),MAGIC[0],MAGIC[1]),
 'container_tail': container(block(header),MAGIC[2],MAGIC[2],17),
 'container_full_size': container(block(header,FULL),MAGIC[1],MAGIC[0],3),
 'one_magic': struct.pack('<II',MAGIC[0],7)+header[8:],
 'container_header_only': struct.pack('<IIII',MAGIC[0],MAGIC[0],8,8),
}
for k,v in seeds.items(): open('seeds/'+k,'wb').write(v)
