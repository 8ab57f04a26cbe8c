[playlist]
NumberOfEntries=2
File1=http://a.example:8000/
Title1=(#1 - 12/500) Example Radio
Length1=-1
File2=http://b.example:8000/live
Title2=(#2 - 3/500) Example Radio
Length2=-1
Version=2
